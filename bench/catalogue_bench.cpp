// How long the lesson window takes to load a catalogue of 1,000 and 10,000
// entries into its tree and columns: the baselist request on loopback, the
// reading of every record and the tree built from it, through the window's
// own load_catalogue. Prints the times and the growth from 1k to 10k, with the
// reading of the records alone (no request, no tree) beside them.
#include "bench/quick_mode.h"
#include "client/lessons/lesson_form.h"
#include "common/protocol/request.h"
#include "tests/support/lesson_test_service.h"

#include <QApplication>
#include <QTreeWidget>

#include <chrono>
#include <cstdio>
#include <string>

using namespace mirvo;
using namespace mirvo::testing;
using clock_type = std::chrono::steady_clock;

namespace {

// Categories of five sub-categories of twenty entries each, so a larger
// catalogue has more categories as real ones do.
std::string catalogue_of(int entries) {
    std::vector<std::pair<int, category_record>> categories;
    int made = 0;
    for (int c = 1; made < entries; ++c) {
        category_record cat{"category " + std::to_string(c), {}};
        for (int s = 1; s <= 5 && made < entries; ++s) {
            subcategory_record sub{"sub " + std::to_string(s), {}};
            for (int e = 1; e <= 20 && made < entries; ++e, ++made)
                sub.lessons.push_back({"lesson " + std::to_string(made), "lessons/l" + std::to_string(made)});
            cat.subs.push_back(std::move(sub));
        }
        categories.emplace_back(c, std::move(cat));
    }
    return baselist_reply(categories);
}

class fake_player : public QWidget, public scripted_player_state {
public:
    explicit fake_player(QWidget* parent) : QWidget(parent) {}
};

double seconds_since(clock_type::time_point t0) {
    return std::chrono::duration<double>(clock_type::now() - t0).count();
}

// The best of three loads.
double load_time(lesson_service& service, int entries, std::size_t& reply_bytes) {
    const std::string reply = catalogue_of(entries);
    reply_bytes = reply.size();
    service.set_baselist(reply);
    lesson_form form(nullptr, make_player_factory<fake_player>());
    double best = 1e9;
    for (int run = 0; run < 3; ++run) {
        const auto t0 = clock_type::now();
        form.load_catalogue();
        best = std::min(best, seconds_since(t0));
    }
    const int shown = static_cast<int>(form.playback().entries().entries.size());
    if (shown != entries) std::printf("loaded %d of %d entries!\n", shown, entries);
    return best;
}

double reading_time(int entries) {
    const std::string reply = catalogue_of(entries);
    double best = 1e9;
    for (int run = 0; run < 3; ++run) {
        const auto t0 = clock_type::now();
        const catalogue cat = read_catalogue(reply);
        best = std::min(best, seconds_since(t0));
        if (cat.entries.size() != static_cast<std::size_t>(entries)) std::printf("read too few entries!\n");
    }
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    const bool quick = mirvo::bench::take_quick(argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    lesson_service service;
    lesson_session session(service);

    // Quick mode: a tenth of the entries.
    const int small = quick ? 100 : 1000, large = quick ? 1000 : 10000;
    std::size_t bytes_1k = 0, bytes_10k = 0;
    const double t1k = load_time(service, small, bytes_1k);
    const double t10k = load_time(service, large, bytes_10k);
    std::printf(
        "catalogue load (request, records, tree): %d entries %.3f s (%zu bytes), "
        "%d entries %.3f s (%zu bytes), ratio %.1f\n",
        small, t1k, bytes_1k, large, t10k, bytes_10k, t10k / t1k);

    const double r1k = reading_time(small), r10k = reading_time(large);
    std::printf("records alone (read_catalogue): %d %.3f s, %d %.3f s, ratio %.1f\n", small, r1k, large, r10k,
                r10k / r1k);
    return 0;
}
