// NKS metadata documents per second: validation, tree building and MessagePack writing for 256
// parameters of every kind and the controller's fixed pages.
#include "vst3/Metadata.h"
#include "vst3/plugcontroller_nks.h"

#include <benchmark/benchmark.h>

#include <string>

namespace {

using namespace nks::metadata;
using namespace nks::metadata::v1;
using parameter_descriptive_info::Attributes;
using parameter_descriptive_info::Style;
using parameter_descriptive_info::Type;

Metadata metadata()
{
    Metadata m;
    for (uint32_t id = 0; id < 256; ++id) {
        switch (id % 4) {
        case 0:
            m.parameterDescriptiveInfo.emplace(
                id, Attributes(Type::ContinuousBipolar, Style::Default, 0u));
            break;
        case 1:
            m.parameterDescriptiveInfo.emplace(id, Attributes(Type::Toggle, Style::OnOff, 0u));
            break;
        case 2:
            m.parameterDescriptiveInfo.emplace(
                id, Attributes(Type::DiscreteBipolar, Style::Generic, 128u));
            break;
        default:
            m.parameterDescriptiveInfo.emplace(
                id, Attributes(Type::Discrete, Style::Menu,
                               std::vector<std::string>{"Off", "Low", "Mid", "High", "Max"}));
            break;
        }
    }
    m.parameterNavigation.performanceMode = {nks::pageSection(nks::NKS2PerfSection)};
    for (const nks::Page& page : nks::NKS2Pages)
        m.parameterNavigation.groups.push_back({page.name, {nks::pageSection(page)}});
    return m;
}

void nks_metadata(benchmark::State& state)
{
    const Metadata m = metadata();
    std::vector<unsigned char> bytes;
    for (auto _ : state) {
        bytes.clear();
        if (writeVANTOR(m, bytes).id != Result::kValid) {
            state.SkipWithError("invalid metadata");
            break;
        }
        benchmark::DoNotOptimize(bytes.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes.size()));
    state.counters["documents/s"] =
        benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["bytes"] = double(bytes.size());
}
BENCHMARK(nks_metadata)->Unit(benchmark::kMicrosecond);

}  // namespace
