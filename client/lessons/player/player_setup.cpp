#include "client/lessons/player/player_setup.h"

#include "client/lessons/player/movie_address.h"

#include <QCoreApplication>
#include <QDir>
#include <QOpenGLContext>
#include <QWebEngineUrlScheme>

#include <curl/curl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace mirvo {
namespace {

bool has_gpu() {
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/dev/dri", ec))
        if (entry.path().filename().string().rfind("renderD", 0) == 0) return true;
    return false;
}

// Without a GPU nothing of ours draws with OpenGL, yet Qt WebEngine makes an
// OpenGL context while the application object is built, and with it loads
// Mesa and compiles its software rasteriser: the greater part of the time the
// client takes to its first window. Without a GL integration on X that
// context is refused at once.
bool gl_switched_off = false;
QtMessageHandler earlier_handler = nullptr;

// What Qt and its web engine say about the OpenGL we switched off.
void drop_refused_context_warning(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type == QtWarningMsg && (message.startsWith(QLatin1String("QXcbIntegration: Cannot create platform OpenGL")) ||
                                 message.startsWith(QLatin1String("No suitable graphics backend found"))))
        return;
    if (earlier_handler)
        earlier_handler(type, context, message);
    else
        qt_message_output(type, context, message);
}

void switch_gl_off() {
    if (std::getenv("QT_XCB_GL_INTEGRATION")) return;  // the user's choice stands
    setenv("QT_XCB_GL_INTEGRATION", "none", 1);
    gl_switched_off = true;
    earlier_handler = qInstallMessageHandler(drop_refused_context_warning);
    // Once the platform has settled on it, programs we start (the updater, a
    // catalogue program) must not inherit it.
    qAddPreRoutine([] {
        if (!gl_switched_off) return;
        QOpenGLContext::supportsThreadedOpenGL();  // makes the platform read it now
        unsetenv("QT_XCB_GL_INTEGRATION");
    });
}

void add_switches(const std::vector<std::string>& wanted) {
    const char* current = std::getenv("QTWEBENGINE_CHROMIUM_FLAGS");
    std::string flags = current ? current : "";
    for (const std::string& s : wanted) {
        // Keep a switch the user already gave (possibly with another value).
        const std::string name = s.substr(0, s.find('='));
        if (flags.find(name) != std::string::npos) continue;
        if (!flags.empty()) flags += ' ';
        flags += s;
    }
    setenv("QTWEBENGINE_CHROMIUM_FLAGS", flags.c_str(), 1);
}

}  // namespace

void prepare_movie_player(int, char**) {
    static bool done = false;
    if (done) return;
    done = true;

    // Movies are fetched on worker threads; libcurl's global set-up must
    // happen before any thread starts.
    curl_global_init(CURL_GLOBAL_DEFAULT);

    QWebEngineUrlScheme scheme(player::page_scheme);
    scheme.setSyntax(QWebEngineUrlScheme::Syntax::Host);
    scheme.setDefaultPort(QWebEngineUrlScheme::PortUnspecified);
    // Secure so the page counts as a secure context (WebAssembly streaming,
    // workers); CORS-enabled so the page's own requests on it are allowed.
    scheme.setFlags(QWebEngineUrlScheme::SecureScheme | QWebEngineUrlScheme::CorsEnabled |
                    QWebEngineUrlScheme::ContentSecurityPolicyIgnored);
    QWebEngineUrlScheme::registerScheme(scheme);

    std::vector<std::string> switches = {
        // Lessons start their movies (with sound) without a click.
        "--autoplay-policy=no-user-gesture-required",
        // A lesson keeps playing while the window is hidden in the tray or
        // minimised; a throttled page would stall the movie and the lesson.
        "--disable-background-timer-throttling",
        "--disable-renderer-backgrounding",
        "--disable-backgrounding-occluded-windows",
    };
    if (!has_gpu()) {
        // Without a GPU, Chromium composites in software, and Qt's view then
        // only has to show finished pictures: its software scene graph does
        // that for a third of the CPU that emulated OpenGL needs.
        switches.push_back("--disable-gpu");
        setenv("QT_QUICK_BACKEND", "software", 0);
        if (std::string(std::getenv("QT_QUICK_BACKEND")) == "software") switch_gl_off();
    } else {
        // The page's pictures come from the GPU process through contexts
        // shared with Qt's.
        QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    }
    if (player_savings()) {
        // Ruffle's WebAssembly is large and a movie uses a small part of it:
        // compiled as its functions are first called, the renderer keeps
        // tens of MiB less code and starts no slower.
        switches.push_back("--js-flags=--wasm-lazy-compilation");
    }
    // Chromium refuses to start its sandbox as root.
    if (geteuid() == 0) switches.push_back("--no-sandbox");
    add_switches(switches);
}

bool player_savings() {
    const char* value = std::getenv("MIRVO_PLAYER_SAVINGS");
    return !value || std::string(value) != "off";
}

QString ruffle_folder() { return QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("ruffle")); }

}  // namespace mirvo
