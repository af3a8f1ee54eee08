// The cost of the program's own logic, apart from the browser's round trips:
// one ListContains miss, and one tick of the popup scan over fake windows.
#include "blocking/list_lookup.h"
#include "blocking/popup_scan.h"
#include "form/quellit.h"
#include "tests/fakes/fake_platform.h"

#include <benchmark/benchmark.h>
#include <string>

namespace {

using namespace tavro;

void fill(ListBox& list, int entries, const std::string& prefix) {
    for (int i = 0; i < entries; ++i)
        list.append(prefix + std::to_string(i) + ".example.com");
}

void ListContainsMiss(benchmark::State& state) {
    ListBox list;
    fill(list, static_cast<int>(state.range(0)) - 1, "allowed");
    // One less than the size asked for, so the 32,767 case measures the longest
    // miss that does not overflow.
    for (auto _ : state)
        benchmark::DoNotOptimize(ListContains(list, "not-listed.example.com"));
}
BENCHMARK(ListContainsMiss)->Arg(10)->Arg(1000)->Arg(32767);

// Each window is a not-allowed pop-up from a domain already blocked: the
// longest path through the scan (three lookups, a tone, a close request).
void TickOverPopups(benchmark::State& state) {
    fakes::FakePlatform fake;
    Quellit form(fake.platform);
    fill(form.lstWhiteList, 100, "allowed");
    fill(form.lstBlockedUrls, 99, "blocked");
    form.lstBlockedUrls.append("ads.site.example");
    form.chkBeep.setValue(CheckBox::Checked);
    for (int i = 0; i < state.range(0); ++i)
        fake.browser.add({.url = "http://ads.site.example/pop" + std::to_string(i) + ".html"});
    for (auto _ : state) {
        Timer1_Timer(form);
        fake.tone.calls.clear();
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(TickOverPopups)->Arg(50)->Arg(500)->Unit(benchmark::kMicrosecond);

// Ordinary windows that nobody opened by script: the common case.
void TickOverOrdinaryWindows(benchmark::State& state) {
    fakes::FakePlatform fake;
    Quellit form(fake.platform);
    fill(form.lstWhiteList, 100, "allowed");
    for (int i = 0; i < state.range(0); ++i)
        fake.browser.add(
            {.url = "http://site" + std::to_string(i) + ".example/", .opener = false, .menuBar = true});
    for (auto _ : state)
        Timer1_Timer(form);
}
BENCHMARK(TickOverOrdinaryWindows)->Arg(50)->Arg(500)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
