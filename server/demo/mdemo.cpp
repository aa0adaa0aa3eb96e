// mdemo: a program of the demo catalogue. The client starts catalogue programs
// with " user_name=<name> user_password=<password>"; this one only shows the
// name and the installed version (its mdemo.xml in the folder it runs in), to
// make the hand-over and an update visible.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#ifdef MDEMO_QT
#include <QApplication>
#include <QFont>
#include <QLabel>
#include <QString>
#endif

namespace {

// The parameters may arrive as separate arguments or as one text.
std::string user_name(int argc, char** argv) {
    std::string all;
    for (int i = 1; i < argc; ++i) all += std::string(" ") + argv[i];
    const std::string key = "user_name=";
    std::size_t at = all.find(key);
    if (at == std::string::npos) return {};
    at += key.size();
    std::size_t end = all.find(" user_password=", at);
    return all.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

// The content of <version> in ./mdemo.xml, empty without one.
std::string installed_version() {
    std::ifstream in("mdemo.xml", std::ios::binary);
    const std::string doc{std::istreambuf_iterator<char>(in), {}};
    const std::size_t at = doc.find("<version>");
    if (at == std::string::npos) return {};
    const std::size_t from = at + 9, end = doc.find("</version>", from);
    return end == std::string::npos ? std::string() : doc.substr(from, end - from);
}

}  // namespace

int main(int argc, char** argv) {
    const std::string name = user_name(argc, argv);
    const std::string version = installed_version();
#ifdef MDEMO_QT
    QApplication app(argc, argv);
    QLabel label(QString::fromUtf8("你好，%1！这是 Mirvo 演示程序 %2。")
                     .arg(name.empty() ? QStringLiteral("?") : QString::fromUtf8(name.c_str()),
                          version.empty() ? QStringLiteral("?") : QString::fromStdString(version)));
    label.setWindowTitle(QStringLiteral("mdemo"));
    label.setMargin(40);
    QFont font = label.font();
    font.setPointSize(16);
    label.setFont(font);
    label.show();
    return app.exec();
#else
    std::printf("mdemo: user %s, version %s\n", name.empty() ? "?" : name.c_str(),
                version.empty() ? "?" : version.c_str());
    return 0;
#endif
}
