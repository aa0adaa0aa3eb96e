// How the document query scales: one simple query on a 1 MB document, and
// reading n numbered records the way every reply reader does (order 1, 2, ...).
#include "bench/quick_mode.h"
#include "common/xmltext/xmltext.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <string>

namespace {

std::string big_document(std::size_t bytes) {
    std::string doc;
    doc.reserve(bytes + 64);
    int i = 0;
    while (doc.size() < bytes) doc += "<item n=\"" + std::to_string(i++) + "\">some text of an item</item>\n";
    doc += "<wanted>yes</wanted>";
    return doc;
}

std::string records(int n) {
    std::string doc = "<online_num>3</online_num>";
    for (int i = 1; i <= n; ++i)
        doc +=
            "<file order=\"" + std::to_string(i) + "\" name=\"movie" + std::to_string(i) + ".swf\" delay_time=\"0\" />";
    return doc;
}

int read_all(const std::string& doc) {
    int count = 0;
    for (int i = 1;; ++i) {
        std::string name = mirvo::xml_get_value(doc, "file", "order", mirvo::int_to_text(i), "name");
        if (name.empty()) break;
        ++count;
    }
    return count;
}

// The same records through the index that read_records uses.
int read_all_indexed(const std::string& doc) {
    mirvo::xml_record_index index(doc, "file", "order");
    int count = 0;
    for (int i = 1;; ++i) {
        if (index.get(mirvo::int_to_text(i), "name").empty()) break;
        ++count;
    }
    return count;
}

void simple_query_1mb(benchmark::State& state) {
    const std::string doc = big_document(1 << 20);
    for (auto _ : state) benchmark::DoNotOptimize(mirvo::xml_get_value(doc, "wanted"));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(doc.size()));
}
BENCHMARK(simple_query_1mb)->Unit(benchmark::kMillisecond);

void numbered_records(benchmark::State& state) {
    const std::string doc = records(static_cast<int>(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(read_all(doc));
}
BENCHMARK(numbered_records)->Arg(1000)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

int main(int argc, char** argv) {
    const bool quick = mirvo::bench::take_quick(argc, argv);
    std::vector<char*> args = mirvo::bench::benchmark_arguments(argc, argv, quick);
    int count = static_cast<int>(args.size()) - 1;
    benchmark::Initialize(&count, args.data());
    benchmark::RunSpecifiedBenchmarks();
    // The growth from 1k to 10k records, the figure that matters for catalogues.
    auto time_of = [](int n, int (*reader)(const std::string&)) {
        const std::string doc = records(n);
        auto t0 = std::chrono::steady_clock::now();
        int got = reader(doc);
        auto t1 = std::chrono::steady_clock::now();
        if (got != n) std::printf("read %d of %d records!\n", got, n);
        return std::chrono::duration<double>(t1 - t0).count();
    };
    // Quick mode: a tenth of the records.
    const int small = quick ? 100 : 1000, large = quick ? 1000 : 10000;
    double t1k = time_of(small, read_all), t10k = time_of(large, read_all);
    std::printf("numbered records, one query each: %d %.3f s, %d %.3f s, ratio %.1f\n", small, t1k, large, t10k,
                t10k / t1k);
    double i1k = time_of(small, read_all_indexed), i10k = time_of(large, read_all_indexed);
    std::printf("numbered records, indexed: %d %.4f s, %d %.4f s, ratio %.1f\n", small, i1k, large, i10k, i10k / i1k);
    return 0;
}
