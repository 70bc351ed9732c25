// Runs the command-line program as a child process and reads its JSON output, for the command tests.
#pragma once

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "TempFolder.h"

namespace vandrel::clitest {

struct TCliRun {
  int Status = -1;
  std::string Out, Err;
};

inline std::string ReadAll(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Runs `argv` (found on PATH) and waits for it; its standard output goes to `stdoutTo` when given (such
// as /dev/full), else into Out.
inline TCliRun RunCommand(const std::vector<std::string>& argv, const std::string& stdoutTo = {}) {
  static int counter = 0;
  const std::string base = test::ProcessTempDir() + "/cli-" + std::to_string(++counter);
  const std::string out = base + ".out", err = base + ".err";
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(stdoutTo.empty() ? open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600)
                          : open(stdoutTo.c_str(), O_WRONLY),
         1);
    dup2(open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 2);
    std::vector<char*> words;
    for (const auto& a : argv) words.push_back(const_cast<char*>(a.c_str()));
    words.push_back(nullptr);
    execvp(words[0], words.data());
    _exit(127);
  }
  TCliRun run;
  int status = 0;
  if (waitpid(pid, &status, 0) == pid) run.Status = WIFEXITED(status) ? WEXITSTATUS(status) : 128;
  run.Out = ReadAll(out);
  run.Err = ReadAll(err);
  return run;
}

// Runs the program with `args` behind `launcher`, words that run a command (such as nsenter), or none.
inline TCliRun RunCliUnder(std::vector<std::string> launcher, const std::vector<std::string>& args,
                           const std::string& stdoutTo = {}) {
  launcher.push_back(VANDREL_CLI);
  launcher.insert(launcher.end(), args.begin(), args.end());
  return RunCommand(launcher, stdoutTo);
}

inline TCliRun RunCli(const std::vector<std::string>& args, const std::string& stdoutTo = {}) {
  return RunCliUnder({}, args, stdoutTo);
}

// Starts the program with `args` and returns at once; its output is dropped. For programs that serve
// until they are stopped.
inline pid_t StartCli(const std::vector<std::string>& args) {
  const pid_t pid = fork();
  if (pid == 0) {
    const int devNull = open("/dev/null", O_WRONLY);
    dup2(devNull, 1);
    dup2(devNull, 2);
    std::vector<char*> argv{const_cast<char*>(VANDREL_CLI)};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(VANDREL_CLI, argv.data());
    _exit(127);
  }
  return pid;
}

// Exit status, or -1 when the process did not end within `seconds`.
inline int WaitForExit(pid_t pid, int seconds) {
  for (int i = 0; i < seconds * 20 + 1; ++i) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
    if (i < seconds * 20) usleep(50000);
  }
  return -1;
}

// Just enough JSON for the command line's output: an array of flat objects whose values are strings, whole
// numbers, booleans or arrays of strings. Anything else fails the parse.
struct TJsonRecord {
  std::map<std::string, std::string> Text;
  std::map<std::string, long> Number;
  std::map<std::string, bool> Flag;
  std::map<std::string, std::vector<std::string>> List;
};

class TJsonReader {
 public:
  explicit TJsonReader(const std::string& text) : s_(text) {}

  bool ReadArray(std::vector<TJsonRecord>& out) {
    if (!Take('[')) return false;
    if (Take(']')) return End();
    do {
      TJsonRecord r;
      if (!ReadObject(r)) return false;
      out.push_back(std::move(r));
    } while (Take(','));
    return Take(']') && End();
  }

 private:
  void Blank() {
    while (p_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[p_]))) ++p_;
  }
  bool Take(char c) {
    Blank();
    if (p_ < s_.size() && s_[p_] == c) {
      ++p_;
      return true;
    }
    return false;
  }
  bool End() {
    Blank();
    return p_ == s_.size();
  }
  bool Word(const char* w) {
    Blank();
    const std::string word(w);
    if (s_.compare(p_, word.size(), word) != 0) return false;
    p_ += word.size();
    return true;
  }
  bool ReadString(std::string& out) {
    if (!Take('"')) return false;
    while (p_ < s_.size() && s_[p_] != '"') {
      if (s_[p_] == '\\') {
        if (++p_ >= s_.size()) return false;
        if (s_[p_] == 'u') {
          if (p_ + 4 >= s_.size()) return false;
          out += static_cast<char>(std::stoi(s_.substr(p_ + 1, 4), nullptr, 16));
          p_ += 5;
          continue;
        }
      }
      out += s_[p_++];
    }
    return Take('"');
  }
  bool ReadObject(TJsonRecord& r) {
    if (!Take('{')) return false;
    do {
      std::string key;
      if (!ReadString(key) || !Take(':')) return false;
      Blank();
      if (p_ < s_.size() && s_[p_] == '"') {
        if (!ReadString(r.Text[key])) return false;
      } else if (Word("true")) {
        r.Flag[key] = true;
      } else if (Word("false")) {
        r.Flag[key] = false;
      } else if (Take('[')) {
        std::vector<std::string>& list = r.List[key];
        if (!Take(']')) {
          do {
            list.emplace_back();
            if (!ReadString(list.back())) return false;
          } while (Take(','));
          if (!Take(']')) return false;
        }
      } else {
        size_t used = 0;
        try {
          r.Number[key] = std::stol(s_.substr(p_), &used);
        } catch (...) {
          return false;
        }
        p_ += used;
      }
    } while (Take(','));
    return Take('}');
  }

  const std::string& s_;
  size_t p_ = 0;
};

}  // namespace vandrel::clitest
