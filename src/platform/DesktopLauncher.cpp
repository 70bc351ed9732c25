#include "platform/DesktopLauncher.h"

#include <gio/gio.h>

namespace vandrel {
namespace {

class TGioLauncher final : public IDesktopLauncher {
 public:
  TShellOpenResult OpenUri(const std::string& uri, std::string& error) override {
    GError* failure = nullptr;
    if (g_app_info_launch_default_for_uri(uri.c_str(), nullptr, &failure)) return TShellOpenResult::soOpened;
    TShellOpenResult result = TShellOpenResult::soFailed;
    if (failure) {
      error = failure->message;
      // Without a handler GIO answers "not supported" (no association, no VFS for the scheme) or "not
      // found"; a handler that cannot start is a spawn or other error.
      if (failure->domain == G_IO_ERROR &&
          (failure->code == G_IO_ERROR_NOT_SUPPORTED || failure->code == G_IO_ERROR_NOT_FOUND))
        result = TShellOpenResult::soNoHandler;
      g_error_free(failure);
    }
    return result;
  }

  bool DefaultHandler(std::string_view scheme, TSchemeHandler& out) override {
    const std::string name(scheme);
    GAppInfo* info = g_app_info_get_default_for_uri_scheme(name.c_str());
    if (!info) return false;
    const char* id = g_app_info_get_id(info);
    const char* exec = g_app_info_get_commandline(info);
    out.DesktopId = id ? id : "";
    out.Exec = exec ? exec : "";
    g_object_unref(info);
    return !out.Exec.empty();
  }

  bool Spawn(const std::vector<std::string>& argv, std::string& error) override {
    if (argv.empty() || argv[0].empty()) {
      error = "no program";
      return false;
    }
    std::vector<char*> words;
    for (const auto& word : argv) words.push_back(const_cast<char*>(word.c_str()));
    words.push_back(nullptr);
    // Without G_SPAWN_DO_NOT_REAP_CHILD GLib double-forks, so the browser is nobody's child to wait for.
    const auto flags = G_SPAWN_SEARCH_PATH;
    GError* failure = nullptr;
    if (g_spawn_async(nullptr, words.data(), nullptr, flags, nullptr, nullptr, nullptr, &failure))
      return true;
    if (failure) {
      error = failure->message;
      g_error_free(failure);
    }
    return false;
  }
};

}  // namespace

IDesktopLauncher& DesktopLauncher() {
  static TGioLauncher launcher;
  return launcher;
}

}  // namespace vandrel
