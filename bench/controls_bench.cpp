// What the client's own controls cost per paint: measuring and drawing a
// text of five links (the news row), a 300 x 40 textured face, and a whole
// link control painting itself. Targets on the project machine: under 1 ms
// for the five links and under 2 ms for the textured face.
#include "bench/quick_mode.h"
#include "client/controls/draw_manager.h"
#include "client/controls/html_drawer.h"
#include "client/controls/html_static.h"
#include "common/text/gbk.h"

#include <QApplication>
#include <QImage>
#include <QPainter>

#include <benchmark/benchmark.h>

#include <string>

using namespace mirvo;

namespace {

std::string five_links() {
    std::string markup;
    const char* captions[] = {"新闻信息", "今日推荐课程", "Mirvo 学习乐园", "交新朋友", "您有新信息!"};
    for (int i = 0; i < 5; ++i)
        markup += "<a href=\"http://127.0.0.1:18080/ad.aspx?id=" + std::to_string(i) + "\">" +
                  mirvo::utf8_to_gbk(captions[i]) + "</a> ";
    return markup;
}

void measure_and_draw_five_links(benchmark::State& state) {
    CHtmlDrawer drawer;
    drawer.SetStyle("a:link", "color:0xFF0000; text-decoration:underline");
    const std::string markup = five_links();
    QImage img(400, 40, QImage::Format_ARGB32_Premultiplied);
    QPainter p(&img);
    for (auto _ : state) {
        QSize size = drawer.Measure(markup, static_cast<int>(state.range(0)));
        drawer.Draw(p, QRect(QPoint(0, 0), size));
        benchmark::DoNotOptimize(drawer.link_areas().data());
    }
}
BENCHMARK(measure_and_draw_five_links)->Arg(0)->Arg(200)->Unit(benchmark::kMicrosecond);

void textured_face(benchmark::State& state) {
    CDrawManager manager;
    QImage img(300, 40, QImage::Format_ARGB32_Premultiplied);
    QPainter p(&img);
    const int effect = static_cast<int>(state.range(0));
    for (auto _ : state) {
        manager.FillEffect(p, img.rect(), effect, 0xFFE4EF, 0xFFFFFF, 0xF0B4A0, 5, 10);
        benchmark::ClobberMemory();
    }
    state.SetLabel(std::string(mirvo::effect_name(effect)));
}
BENCHMARK(textured_face)->DenseRange(7, 15)->Unit(benchmark::kMicrosecond);

void gradient_face(benchmark::State& state) {
    CDrawManager manager;
    QImage img(300, 40, QImage::Format_ARGB32_Premultiplied);
    QPainter p(&img);
    for (auto _ : state) manager.FillEffect(p, img.rect(), 6, 0x0000FF, 0xFFFFFF, 0xFF0000);
}
BENCHMARK(gradient_face)->Unit(benchmark::kMicrosecond);

// A news link as the lesson window repaints it: background cached, text layer drawn.
void link_control_paint(benchmark::State& state) {
    CHtmlStatic label;
    label.resize(120, 16);
    label.SetLinkColours(0xFF0000, true, 0x0000FF);
    label.SetHyperlinkText(mirvo::utf8_to_gbk("今日推荐课程"), "http://127.0.0.1:18080/ad.aspx?id=1");
    QImage img(label.size(), QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) label.render(&img);
}
BENCHMARK(link_control_paint)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    const bool quick = mirvo::bench::take_quick(argc, argv);
    QApplication app(argc, argv);
    std::vector<char*> args = mirvo::bench::benchmark_arguments(argc, argv, quick);
    int count = static_cast<int>(args.size()) - 1;
    benchmark::Initialize(&count, args.data());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
