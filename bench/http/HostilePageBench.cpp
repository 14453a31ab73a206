// Pages a hostile site can send, read at doubling sizes (listings from 1 MiB,
// cookie headers from 64 KiB): the times must grow linearly (the Complexity
// line reports O(N) and its coefficient).
// A listing of message links whose cells never close, and a header of cookie
// lines without attributes, used to cost time quadratic in the page.
#include "tests/support/OpenVurelClient.h"
#include "tests/support/ScriptedPeer.h"
#include "webmail/HttpResponse.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

namespace quill {
namespace {

void BM_ListingOfUnclosedLinks(benchmark::State& state) {
    const std::size_t size = static_cast<std::size_t>(state.range(0));
    std::string answer = "HTTP/1.0 200 OK\r\n\r\n<title>Vurel! Mail - a@vurel.example</title>"
                         "<td>Messages 1-1 of 1</td>";
    while (answer.size() < size) {
        answer += "<a href=\"/vm/ShowLetter?MsgId=" + std::to_string(answer.size()) + "&x\"><td";
    }
    SiteConfig site;
    site.mailDomain = "vurel.example";
    OpenVurelClient client(site);
    CookieRecord record;
    record.set("a", "S=1; ", "m.test", 1700000000);
    client.adoptSession(record);
    client.setChannelFactory(
        [&] { return std::make_shared<ScriptedPeer>(std::vector<std::string>{answer}); });
    for (auto _ : state) {
        benchmark::DoNotOptimize(client.listInbox());
    }
    state.SetComplexityN(state.range(0));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_ListingOfUnclosedLinks)
    ->RangeMultiplier(2)
    ->Range(1 << 20, 8 << 20)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

void BM_CookieLinesWithoutAttributes(benchmark::State& state) {
    std::string header = "HTTP/1.0 200 OK\r\n";
    for (int i = 0; header.size() < static_cast<std::size_t>(state.range(0)); ++i) {
        header += "Set-Cookie: c" + std::to_string(i) + "=v\r\n";
    }
    header += "\r\n";
    const HttpResponse response(header);
    for (auto _ : state) {
        benchmark::DoNotOptimize(response.setCookiePairs());
    }
    state.SetComplexityN(state.range(0));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
// Headers stop at kMaxHeaderBytes (1 MiB): these sizes stay below it.
BENCHMARK(BM_CookieLinesWithoutAttributes)
    ->RangeMultiplier(2)
    ->Range(1 << 16, 1 << 19)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

} // namespace
} // namespace quill
