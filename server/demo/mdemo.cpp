// mdemo: a program of the demo catalogue. The client starts catalogue programs
// with " user_name=<name> user_password=<password>"; this one only shows the
// name, to make the hand-over visible.
#include <cstdio>
#include <string>

#ifdef MDEMO_QT
#include <QApplication>
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

}  // namespace

int main(int argc, char** argv) {
    const std::string name = user_name(argc, argv);
#ifdef MDEMO_QT
    QApplication app(argc, argv);
    QLabel label(QString::fromUtf8("\u4f60\u597d\uff0c%1\uff01\u8fd9\u662f Mirvo \u6f14\u793a\u7a0b\u5e8f\u3002")
                     .arg(name.empty() ? QStringLiteral("?") : QString::fromUtf8(name.c_str())));
    label.setWindowTitle(QStringLiteral("mdemo"));
    label.setMargin(40);
    label.show();
    return app.exec();
#else
    std::printf("mdemo: user %s\n", name.empty() ? "?" : name.c_str());
    return 0;
#endif
}
