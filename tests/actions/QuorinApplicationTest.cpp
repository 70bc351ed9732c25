#include "actions/QuorinApplications.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "storage/PropertyStream.h"

namespace vandrel {
namespace {

class TTestOperation : public TQuorinOperation {
  VANDREL_PERSISTENT(TTestOperation)
 public:
  std::string Name;
};

const TClassInfo& TTestOperation::StaticClass() {
  static const TClassInfo info =
      TClassBuilder<TTestOperation>("TTestOperation", TQuorinOperation::StaticClass())
          .String("Name", &TTestOperation::Name)
          .Build();
  return info;
}

class TUnknownOperation : public TQuorinOperation {
  VANDREL_PERSISTENT(TUnknownOperation)
};

const TClassInfo& TUnknownOperation::StaticClass() {
  static const TClassInfo info =
      TClassBuilder<TUnknownOperation>("TUnknownOperation", TQuorinOperation::StaticClass()).Build();
  return info;
}

std::unique_ptr<TQuorinOperation> Op(const std::string& name, const std::string& folder = {}) {
  auto op = std::make_unique<TTestOperation>();
  op->Name = name;
  op->Folder = folder;
  return op;
}

// What the fake actions do, keyed by the operation name they were bound to.
struct TScript {
  bool PrepareOk = true;
  bool StartOk = true;
  bool StartedInStart = true;    // reports ActionStarted from inside Start()
  bool FinishedInStart = false;  // reports ActionFinished from inside Start()
  bool FinishedInStop = false;
};

struct TWorld {
  std::vector<std::string> Log;
  std::map<std::string, TScript> Scripts;
  std::vector<std::string> Alive;  // names of the actions not yet freed
  std::function<void()> DuringStart;
  std::function<void()> AfterFinishInStart;  // e.g. a wait that pumps messages
};

class TFakeAction : public TQuorinAsynchronousAction {
 public:
  explicit TFakeAction(TWorld& world) : world_(world) {}
  ~TFakeAction() override { std::erase(world_.Alive, name_); }

  bool Prepare(TEngineRepository* r, TSearchHistory* h) override {
    TQuorinAction::Prepare(r, h);
    return true;
  }
  bool Bind(const TQuorinOperation& operation) override {
    name_ = static_cast<const TTestOperation&>(operation).Name;
    world_.Alive.push_back(name_);
    return world_.Scripts[name_].PrepareOk;
  }
  bool Start() override {
    const TScript script = world_.Scripts[name_];
    if (world_.DuringStart) world_.DuringStart();
    if (script.StartedInStart) NotifyAllStarted();
    if (script.FinishedInStart) {
      NotifyAllFinished();
      if (world_.AfterFinishInStart) world_.AfterFinishInStart();
    }
    // Still inside our own call after finishing: the runner must not have freed us.
    world_.Log.push_back("returned:" + name_);
    return script.StartOk;
  }
  void Stop() override {
    world_.Log.push_back("stop:" + name_);
    if (world_.Scripts[name_].FinishedInStop) NotifyAllFinished();
    world_.Log.push_back("stopped:" + name_);
  }
  void Finish() { NotifyAllFinished(); }
  const std::string& Name() const { return name_; }

 private:
  TWorld& world_;
  std::string name_;
};

class TSyncAction : public TQuorinAction {
 public:
  bool Start() override {
    NotifyAllStarted();
    return true;
  }
};

class TRecorder : public IQuorinApplicationObserver {
 public:
  TRecorder(std::vector<std::string>& log, std::string tag = {}) : log_(log), tag_(std::move(tag)) {}
  void ActionStarting(TQuorinAction& a) override { Put("starting:" + NameOf(a)); }
  void ActionStarted(TQuorinAction& a) override { Put("started:" + NameOf(a)); }
  void ActionFinished(TQuorinAction& a) override { Put("finished:" + NameOf(a)); }
  void Busy() override { Put("busy"); }
  void Idle() override { Put("idle"); }
  void Error(TQuorinActionResult code) override { Put("error:" + std::to_string(code)); }

 private:
  static std::string NameOf(TQuorinAction& a) {
    auto* fake = dynamic_cast<TFakeAction*>(&a);
    return fake ? fake->Name() : "sync";
  }
  void Put(const std::string& text) { log_.push_back(tag_ + text); }
  std::vector<std::string>& log_;
  std::string tag_;
};

class QuorinApplicationTest : public ::testing::Test {
 protected:
  QuorinApplicationTest() : runner_(actions_, dispatcher_), recorder_(world_.Log) {
    actions_.RegisterSearchAction([this] { return std::make_unique<TFakeAction>(world_); },
                                  TTestOperation::StaticClass());
    runner_.AddObserver(&recorder_);
  }
  TFakeAction* Current() { return dynamic_cast<TFakeAction*>(runner_.CurrentAction()); }

  MainDispatcher dispatcher_;
  TQuorinActionRepository actions_;
  TWorld world_;
  TQuorinApplication runner_;
  TRecorder recorder_;
};

using Log = std::vector<std::string>;

TEST_F(QuorinApplicationTest, QueuedOperationsRunOneAfterAnotherInsideOneBusySpan) {
  runner_.Enqueue(Op("a"));
  runner_.Enqueue(Op("b"));
  ASSERT_EQ(runner_.Run(), arOk);
  EXPECT_EQ(runner_.State(), asRunning);
  EXPECT_TRUE(runner_.IsBusy());
  EXPECT_EQ(runner_.Queue().Count(), 1u);

  Current()->Finish();
  // Finishing only marks the action; it stays current until the posted disposal runs.
  EXPECT_EQ(runner_.State(), asFinished);
  EXPECT_EQ(world_.Alive, Log{"a"});
  dispatcher_.ProcessPending();
  EXPECT_EQ(world_.Alive, Log{"b"});
  EXPECT_EQ(runner_.State(), asRunning);

  Current()->Finish();
  dispatcher_.ProcessPending();
  EXPECT_EQ(runner_.State(), asIdle);
  EXPECT_FALSE(runner_.IsBusy());
  EXPECT_TRUE(world_.Alive.empty());
  EXPECT_EQ(world_.Log, (Log{"starting:a", "busy", "started:a", "returned:a", "finished:a", "starting:b",
                             "started:b", "returned:b", "finished:b", "idle"}));
}

TEST_F(QuorinApplicationTest, ActionFinishingInsideItsOwnCallsIsFreedOnlyAfterward) {
  // Finished from inside Start(), and another from inside Stop(): both keep running their own code after
  // the report (AddressSanitizer catches a premature free).
  world_.Scripts["a"].FinishedInStart = true;
  world_.AfterFinishInStart = [this] { dispatcher_.ProcessPending(); };
  world_.Scripts["b"].FinishedInStop = true;
  runner_.Enqueue(Op("a"));
  runner_.Enqueue(Op("b"));
  ASSERT_EQ(runner_.Run(), arOk);
  EXPECT_EQ(runner_.State(), asFinished);
  EXPECT_EQ(world_.Alive, Log{"a"});
  dispatcher_.ProcessPending();
  ASSERT_EQ(runner_.State(), asRunning);

  EXPECT_EQ(runner_.Stop(false), arOk);
  EXPECT_EQ(runner_.State(), asFinished);  // not overwritten by the stopping state
  EXPECT_EQ(world_.Alive, Log{"b"});
  EXPECT_EQ(runner_.Stop(false), arCannotStopNow);
  dispatcher_.ProcessPending();
  EXPECT_TRUE(world_.Alive.empty());
  EXPECT_EQ(runner_.State(), asIdle);
  EXPECT_EQ(world_.Log.back(), "idle");
}

TEST_F(QuorinApplicationTest, ObserversAreToldInRegistrationOrderAndMayLeaveWhileTold) {
  Log order;
  TRecorder storage(order, "storage:"), window(order, "window:"), frame(order, "frame:");
  // An observer removes itself when told the action started; the one after it must still be told.
  struct TLeaving : TRecorder {
    TLeaving(Log& log, TQuorinApplication& runner) : TRecorder(log, "leaving:"), runner_(runner) {}
    void ActionStarted(TQuorinAction& a) override {
      TRecorder::ActionStarted(a);
      runner_.RemoveObserver(this);
      runner_.RemoveObserver(Gone);
    }
    TQuorinApplication& runner_;
    IQuorinApplicationObserver* Gone = nullptr;
  } leaving(order, runner_);
  TRecorder gone(order, "gone:");
  leaving.Gone = &gone;
  runner_.RemoveObserver(&recorder_);
  runner_.AddObserver(&leaving);
  runner_.AddObserver(&frame);
  runner_.AddObserver(&storage, true);
  runner_.AddObserver(&frame);  // twice: still one entry
  runner_.AddObserver(&gone);
  runner_.Enqueue(Op("a"));
  ASSERT_EQ(runner_.Run(), arOk);
  EXPECT_EQ(order, (Log{"storage:starting:a", "leaving:starting:a", "frame:starting:a", "gone:starting:a",
                        "storage:busy", "leaving:busy", "frame:busy", "gone:busy", "storage:started:a",
                        "leaving:started:a", "frame:started:a"}));
}

TEST_F(QuorinApplicationTest, FailuresReachObserversAsResultCodes) {
  EXPECT_EQ(runner_.Run(), arQueueEmpty);
  runner_.Enqueue(std::make_unique<TUnknownOperation>());
  EXPECT_EQ(runner_.Run(), arClassNotRegistered);
  world_.Scripts["bad"].PrepareOk = false;
  runner_.Enqueue(Op("bad"));
  // A stored search cannot be bound without a history to find it in.
  runner_.Enqueue(Op("stored", "Compare"));
  runner_.Enqueue(Op("next"));
  EXPECT_EQ(runner_.Run(), arCannotStart);
  EXPECT_EQ(runner_.Run(), arCannotStart);
  EXPECT_EQ(world_.Log, (Log{"error:3", "error:4", "error:7", "error:7"}));
  EXPECT_EQ(runner_.Queue().Count(), 1u);  // the failed ones are dropped, the next one waits
  EXPECT_EQ(runner_.State(), asIdle);
  EXPECT_TRUE(world_.Alive.empty());

  // A queued operation that fails to start after another finished ends the run with its error.
  world_.Log.clear();
  world_.Scripts["late"].StartOk = false;
  world_.Scripts["late"].StartedInStart = false;
  runner_.Enqueue(Op("late"));
  ASSERT_EQ(runner_.Run(), arOk);  // "next"
  Current()->Finish();
  dispatcher_.ProcessPending();
  EXPECT_EQ(world_.Log, (Log{"starting:next", "busy", "started:next", "returned:next", "finished:next",
                             "starting:late", "returned:late", "error:7", "idle"}));
  EXPECT_FALSE(runner_.IsBusy());
}

TEST_F(QuorinApplicationTest, StartThatReportsEverythingAndThenFailsLeavesNothingBehind) {
  world_.Scripts["a"] = {.StartOk = false, .FinishedInStart = true};
  runner_.Enqueue(Op("a"));
  EXPECT_EQ(runner_.Run(), arCannotStart);
  dispatcher_.ProcessPending();  // the disposal posted by the report must find nothing to free
  EXPECT_EQ(runner_.State(), asIdle);
  EXPECT_FALSE(runner_.IsBusy());
  EXPECT_TRUE(world_.Alive.empty());
  EXPECT_EQ(world_.Log, (Log{"starting:a", "busy", "started:a", "returned:a", "error:7", "idle"}));
}

TEST_F(QuorinApplicationTest, StopAnswersByStateAndClearsTheQueue) {
  runner_.Enqueue(Op("a"));
  EXPECT_EQ(runner_.Stop(true), arNoActiveAction);
  EXPECT_EQ(runner_.Queue().Count(), 0u);

  // Asked while the action is prepared but not yet started (the window configuring it).
  struct TStopper : IQuorinApplicationObserver {
    TQuorinApplication* Runner = nullptr;
    TQuorinActionResult Answer = arOk;
    void ActionStarting(TQuorinAction&) override { Answer = Runner->Stop(false); }
  } stopper;
  stopper.Runner = &runner_;
  runner_.AddObserver(&stopper);
  runner_.Enqueue(Op("p"));
  ASSERT_EQ(runner_.Run(), arOk);
  runner_.RemoveObserver(&stopper);
  EXPECT_EQ(stopper.Answer, arCannotStopNow);
  EXPECT_EQ(runner_.State(), asRunning);

  // Asked while running, with more queued: the queue goes, the action is stopped once.
  runner_.Enqueue(Op("b"));
  EXPECT_EQ(runner_.Stop(true), arOk);
  EXPECT_EQ(runner_.State(), asStopping);
  EXPECT_EQ(runner_.Queue().Count(), 0u);
  EXPECT_EQ(runner_.Stop(false), arStopping);
  Current()->Finish();
  dispatcher_.ProcessPending();
  EXPECT_EQ(runner_.State(), asIdle);
  EXPECT_EQ(world_.Log.back(), "idle");
  EXPECT_EQ(std::count(world_.Log.begin(), world_.Log.end(), "stop:p"), 1);
  EXPECT_EQ(std::count(world_.Log.begin(), world_.Log.end(), "starting:b"), 0);

  // Asked while it starts (a search testing the connection): the stop reaches the action and holds.
  TQuorinActionResult duringStart = arBusy;
  world_.DuringStart = [&] { duringStart = runner_.Stop(false); };
  runner_.Enqueue(Op("s"));
  ASSERT_EQ(runner_.Run(), arOk);
  world_.DuringStart = nullptr;
  EXPECT_EQ(duringStart, arOk);
  EXPECT_EQ(std::count(world_.Log.begin(), world_.Log.end(), "stop:s"), 1);
  EXPECT_EQ(runner_.State(), asStopping);
  Current()->Finish();
  dispatcher_.ProcessPending();

  actions_.Clear();
  actions_.RegisterSearchAction([] { return std::make_unique<TSyncAction>(); },
                                TTestOperation::StaticClass());
  runner_.Enqueue(Op("sync"));
  ASSERT_EQ(runner_.Run(), arOk);
  EXPECT_EQ(runner_.Stop(false), arCannotStopSynchronous);
}

TEST_F(QuorinApplicationTest, SubmitBehindAnActionUnderWayQueuesWithoutAnError) {
  // A second search asked for while the first is still starting (its connection test pumps messages).
  TQuorinActionResult second = arBusy;
  world_.DuringStart = [&] {
    world_.DuringStart = nullptr;
    second = runner_.Submit(Op("b"));
  };
  world_.Scripts["a"].StartedInStart = false;
  EXPECT_EQ(runner_.Submit(Op("a")), arOk);
  EXPECT_EQ(second, arOk);
  EXPECT_EQ(runner_.State(), asStarting);
  EXPECT_EQ(runner_.Run(), arBusy);  // plain Run still answers busy, but tells no observer
  EXPECT_EQ(runner_.Queue().Count(), 1u);
  for (const auto& line : world_.Log) EXPECT_EQ(line.rfind("error:", 0), std::string::npos) << line;

  Current()->Finish();
  dispatcher_.ProcessPending();
  EXPECT_EQ(Current()->Name(), "b");
}

TEST_F(QuorinApplicationTest, RunnerGoneBeforeItsDisposalMessageRuns) {
  auto runner = std::make_unique<TQuorinApplication>(actions_, dispatcher_);
  runner->Enqueue(Op("a"));
  ASSERT_EQ(runner->Run(), arOk);
  dynamic_cast<TFakeAction*>(runner->CurrentAction())->Finish();
  runner.reset();
  EXPECT_TRUE(world_.Alive.empty());
  dispatcher_.ProcessPending();
}

TEST(QuorinActionTest, ProgressIsToldOnlyWhenItChanges) {
  struct TAction : TQuorinAsynchronousAction {
    bool Start() override { return true; }
    void Stop() override {}
  } action;
  struct TObserver : IQuorinAsynchronousActionObserver {
    std::vector<int> Seen;
    void ProgressChanged(int percent) override { Seen.push_back(percent); }
  } observer;
  IQuorinActionObserver plain;  // does not hear progress
  action.AddObserver(&plain);
  action.AddObserver(&observer);
  action.SetProgress(10);
  action.SetProgress(10);
  action.SetProgress(55);
  EXPECT_EQ(observer.Seen, (std::vector<int>{10, 55}));
}

TEST(QuorinVersionInfoTest, OnlyFourPartsMakeAVersion) {
  TQuorinVersionInfo v = TQuorinVersionInfo::Parse("0.95|0957|ENG|DAZUZIREDA");
  EXPECT_EQ(v.Version, "0.95");
  EXPECT_EQ(v.BuildNumber, "0957");
  EXPECT_EQ(v.Language, "ENG");
  EXPECT_EQ(v.Edition, "DAZUZIREDA");
  for (const char* bad : {"", "0.95", "0.95|0957|ENG", "0.95|0957|ENG|X|Y"}) {
    TQuorinVersionInfo none = TQuorinVersionInfo::Parse(bad);
    EXPECT_TRUE(none.Version.empty() && none.BuildNumber.empty() && none.Language.empty() &&
                none.Edition.empty())
        << bad;
  }
  TQuorinVersionInfo built = TQuorinVersionInfo::FromBuild();
  EXPECT_FALSE(built.Version.empty());
  EXPECT_EQ(built.BuildNumber.size() >= 4, true);
}

TEST(QuorinOperationTest, StreamsByClassNameAndWritesResultNumbersOnlyWhenPresent) {
  RegisterClass(TTestOperation::StaticClass());
  TTestOperation op;
  op.Folder = "Compare";
  op.SrhNum = 3;
  TBytes bytes;
  TPropertyWriter writer(bytes);
  WriteListedObject(writer, op);
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()).find("Items"), std::string::npos);

  op.ResNums.Items = {4, 70000, -2};
  bytes.clear();
  TPropertyWriter again(bytes);
  WriteListedObject(again, op);
  TPropertyReader reader(bytes);
  auto read = ReadListedObject(reader, nullptr);
  auto* copy = dynamic_cast<TTestOperation*>(read.get());
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy->Folder, "Compare");
  EXPECT_EQ(copy->SrhNum, 3);
  EXPECT_EQ(copy->ResNums.Items, (std::vector<int32_t>{4, 70000, -2}));
  EXPECT_EQ(TTestOperation().SrhNum, -1);
}

}  // namespace
}  // namespace vandrel
