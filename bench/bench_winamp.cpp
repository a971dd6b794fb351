// One press of the media-player page ("Päivitä"): the player's window read over a private
// session bus, the three boxes filled and the page written through DLPortIO.dll into the
// virtual display module (a segment of this benchmark's own). Players: one that answers;
// one that never answers (the search waits out its reply timeout); one that answers the
// search and then nothing more (one more timeout); none at all. Goal: well under a second
// with an answering player, at most 1.5 s with a hung one.
#include <QApplication>
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "app/omalcd.h"
#include "fake_mpris_player.h"
#include "t6963/shared_module.h"

namespace {

using winapi::test::FakeMprisPlayer;

class Bench {
 public:
  Bench() {
    setenv("DLPORTIO_LCD_SEGMENT", segment_.c_str(), 1);
    setenv("DLPORTIO_LCD_POWERON", "zero", 1);
    setenv("DLPORTIO_LCD_DISCONNECTED", "0", 1);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    application_ = std::make_unique<QApplication>(argc_, argv_);
    bus_ = std::make_unique<winapi::test::PrivateSessionBus>();
    form_ = std::make_unique<TForm1>();
    form_->DLPortIO1->OpenDriver();
    if (!form_->DLPortIO1->ActiveHW()) {
      std::fprintf(stderr, "bench_winamp: DLPortIO.dll could not be opened\n");
      std::exit(1);
    }
    form_->LcdInit();
  }
  ~Bench() {
    form_.reset();
    bus_.reset();
    application_.reset();
    t6963::SharedModule::remove(segment_);
  }
  TForm1& form() { return *form_; }
  std::unique_ptr<FakeMprisPlayer> player(const char* name, FakeMprisPlayer::State state) {
    auto fake = std::make_unique<FakeMprisPlayer>(bus_->address(), QString::fromUtf8(name));
    fake->set(std::move(state));
    return fake;
  }

 private:
  std::string segment_ = "/kelvari-bench-winamp-" + std::to_string(getpid());
  int argc_ = 1;
  char name_[16] = "bench_winamp";
  char* argv_[2] = {name_, nullptr};
  std::unique_ptr<QApplication> application_;
  std::unique_ptr<winapi::test::PrivateSessionBus> bus_;
  std::unique_ptr<TForm1> form_;
};

Bench& bench() {
  static Bench instance;
  return instance;
}

FakeMprisPlayer::State playing(QStringList silenced = {}) {
  return {QStringLiteral("Playing"), QVariant::fromValue<qlonglong>(125'500'000),
          QVariantMap{{"xesam:artist", QStringList{"Anna", "Bo"}},
                      {"xesam:title", "Kappale"},
                      {"mpris:length", QVariant::fromValue<qlonglong>(250'000'000)}},
          std::move(silenced)};
}

void press(benchmark::State& state) {
  for (auto _ : state) bench().form().Winamp_Button1Click(nullptr);
}

void BM_WinampPress_AnsweringPlayer(benchmark::State& state) {
  const auto player = bench().player("answering", playing());
  press(state);
}
BENCHMARK(BM_WinampPress_AnsweringPlayer)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_WinampPress_NoPlayer(benchmark::State& state) { press(state); }
BENCHMARK(BM_WinampPress_NoPlayer)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_WinampPress_HungPlayer(benchmark::State& state) {
  const auto player = bench().player("hung", playing({"*"}));
  press(state);
}
BENCHMARK(BM_WinampPress_HungPlayer)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

void BM_WinampPress_PlayerHungAfterTheSearch(benchmark::State& state) {
  const auto player = bench().player("hung-after-search", playing({"Metadata", "Position"}));
  press(state);
}
BENCHMARK(BM_WinampPress_PlayerHungAfterTheSearch)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

}  // namespace
