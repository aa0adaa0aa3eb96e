#include "client/lessons/player/shockwave_flash.h"

#include "client/lessons/player/fetch_bytes.h"
#include "client/lessons/player/movie_address.h"
#include "client/lessons/player/player_scheme.h"
#include "client/lessons/player/player_setup.h"
#include "common/swf/swf.h"

#include <QColor>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QThreadPool>
#include <QVBoxLayout>
#include <QWebChannel>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineSettings>
#include <QWebEngineView>

#include <cstdlib>

namespace mirvo::player {

// The page's side of the web channel. Only the page calls these.
class page_bridge : public QObject {
    Q_OBJECT
public:
    explicit page_bridge(CShockwaveflash1* owner) : QObject(owner), owner_(owner) {}

public slots:
    void pageReady() { owner_->on_page_ready(); }
    void loaded(int generation, bool ok, const QString& error, double page_ms) {
        owner_->on_loaded(generation, ok, error, page_ms);
    }
    void marker(int generation, int index, double page_ms) { owner_->on_marker(generation, index, page_ms); }
    void heartbeat(int generation, double page_ms) { owner_->on_heartbeat(generation, page_ms); }
    void metadata(int generation, double page_ms) { owner_->on_heartbeat(generation, page_ms); }

private:
    CShockwaveflash1* owner_;
};

namespace {

// The player page: never leaves itself. Pages a movie opens (getURL, in
// this window or a new one) are handed to `leave` instead.
class player_page : public QWebEnginePage {
public:
    player_page(QWebEngineProfile* profile, QObject* parent, std::function<void(const QUrl&)> leave)
        : QWebEnginePage(profile, parent), leave_(std::move(leave)) {}

protected:
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString& message, int line,
                                  const QString& source) override {
        static const bool debug = std::getenv("MIRVO_PLAYER_DEBUG") != nullptr;
        if (debug || level == ErrorMessageLevel)
            qDebug("player page: %s (%s:%d)", qPrintable(message), qPrintable(source), line);
    }

    bool acceptNavigationRequest(const QUrl& url, NavigationType, bool is_main_frame) override {
        if (url == player_scheme_handler::page_url()) return true;
        if (is_main_frame) leave_(url);
        return false;
    }

    QWebEnginePage* createWindow(WebWindowType) override {
        // A new window exists only to learn where it was going.
        return new popup_catcher(profile(), this, leave_);
    }

private:
    class popup_catcher : public QWebEnginePage {
    public:
        popup_catcher(QWebEngineProfile* profile, QObject* parent, std::function<void(const QUrl&)> leave)
            : QWebEnginePage(profile, parent), leave_(std::move(leave)) {}

    protected:
        bool acceptNavigationRequest(const QUrl& url, NavigationType, bool is_main_frame) override {
            if (url.scheme() == QLatin1String("about")) return true;
            if (is_main_frame) {
                leave_(url);
                deleteLater();
            }
            return false;
        }

    private:
        std::function<void(const QUrl&)> leave_;
    };

    std::function<void(const QUrl&)> leave_;
};

// The address a movie asked for, as the server knows it: pages on our scheme
// stand for their server address; only web addresses leave the player.
std::optional<QString> outside_address(const QUrl& url) {
    if (url.scheme() == QLatin1String(page_scheme)) {
        QString path = url.path(QUrl::FullyEncoded);
        if (url.hasQuery()) path += QLatin1Char('?') + url.query(QUrl::FullyEncoded);
        const auto address = address_for_page_path(path.toStdString());
        if (!address) return std::nullopt;
        return QString::fromStdString(*address);
    }
    if (url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https"))
        return url.toString(QUrl::FullyEncoded);
    return std::nullopt;
}

QString js_string(const QString& s) {
    // A JSON array of one string gives a correctly quoted JS string literal.
    const QByteArray json = QJsonDocument(QJsonArray{s}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(json.mid(1, json.size() - 2));
}

}  // namespace
}  // namespace mirvo::player

namespace mirvo {

using namespace player;

CShockwaveflash1::CShockwaveflash1(QWidget* parent)
    : QWidget(parent),
      marker_prefix_(
          QStringLiteral("mirvo-frame-%1:").arg(QRandomGenerator::global()->generate64(), 16, 16, QLatin1Char('0'))) {
    // A profile of our own: no disk cache or cookies, and the scheme handler
    // serves this player's movie only.
    profile_ = new QWebEngineProfile(this);
    handler_ = new player_scheme_handler(mirvo::ruffle_folder(), this);
    profile_->installUrlSchemeHandler(page_scheme, handler_);
    if (!QFileInfo::exists(mirvo::ruffle_folder() + QStringLiteral("/ruffle.js")))
        qWarning("movie player: Ruffle's files are missing from %s", qPrintable(mirvo::ruffle_folder()));

    open_address_ = [](const QString& address) { QDesktopServices::openUrl(QUrl(address)); };
    page_ = new player_page(profile_, this, [this](const QUrl& url) {
        if (const auto address = outside_address(url); address && open_address_) open_address_(*address);
    });
    page_->setBackgroundColor(Qt::white);
    page_->settings()->setAttribute(QWebEngineSettings::PlaybackRequiresUserGesture, false);
    page_->settings()->setAttribute(QWebEngineSettings::ShowScrollBars, false);
    page_->settings()->setAttribute(QWebEngineSettings::FocusOnNavigationEnabled, false);
    // The page's savings (pacing.js, still_frames.js, direct_canvas.js) read
    // this before any of its scripts run.
    QWebEngineScript settings;
    settings.setName(QStringLiteral("mirvo-settings"));
    settings.setInjectionPoint(QWebEngineScript::DocumentCreation);
    settings.setWorldId(QWebEngineScript::MainWorld);
    settings.setRunsOnSubFrames(false);
    settings.setSourceCode(
        QStringLiteral("window.mirvoSavings = %1;").arg(mirvo::player_savings() ? u"true" : u"false"));
    page_->scripts().insert(settings);

    bridge_ = new page_bridge(this);
    channel_ = new QWebChannel(this);
    channel_->registerObject(QStringLiteral("host"), bridge_);
    page_->setWebChannel(channel_);

    view_ = new QWebEngineView(this);
    view_->setPage(page_);
    view_->setContextMenuPolicy(Qt::NoContextMenu);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(view_);

    // A crashed renderer loses the movie: start a fresh page, report nothing playing.
    connect(page_, &QWebEnginePage::renderProcessTerminated, this, [this] {
        page_ready_ = false;
        emit page_ready_changed(false);
        timeline_.failed();
        timeline_.page_restarted();
        handler_->clear_movie();
        start_page();
    });
    start_page();
}

CShockwaveflash1::~CShockwaveflash1() {
    if (fetch_cancel_) fetch_cancel_->store(true);
    // Nothing the page reports while it goes may reach a player half gone.
    disconnect(page_, nullptr, this, nullptr);
    // The page must go before its profile.
    delete view_;
    view_ = nullptr;
    delete page_;
    page_ = nullptr;
}

void CShockwaveflash1::set_address_opener(std::function<void(const QString&)> open) { open_address_ = std::move(open); }

void CShockwaveflash1::start_page() { page_->load(player_scheme_handler::page_url()); }

bool CShockwaveflash1::IsPlaying() { return timeline_.playing(); }

std::int32_t CShockwaveflash1::TotalFrames() { return timeline_.total_frames(); }

std::int32_t CShockwaveflash1::CurrentFrame() { return timeline_.current_frame(); }

QString CShockwaveflash1::background_css() const {
    // The colour comes as 0x00BBGGRR.
    return QColor(background_ & 0xFF, (background_ >> 8) & 0xFF, (background_ >> 16) & 0xFF).name();
}

void CShockwaveflash1::LoadMovie(std::int32_t, const std::string& address) {
    const int generation = ++generation_;
    if (fetch_cancel_) fetch_cancel_->store(true);
    fetch_cancel_.reset();
    pending_load_.reset();

    const std::string url = normalise_movie_address(address);
    const auto path = page_path_for(url);
    if (!path) {
        fail(QStringLiteral("not an http address"));
        return;
    }
    timeline_.loading();
    const QString page_url = QStringLiteral("%1://%2").arg(QLatin1String(page_scheme), QLatin1String(page_host)) +
                             QString::fromStdString(*path);

    // The fetch runs off the UI thread; the lesson window reads "playing"
    // meanwhile. The result is dropped when another load came in between.
    auto cancel = std::make_shared<std::atomic<bool>>(false);
    fetch_cancel_ = cancel;
    QPointer<CShockwaveflash1> self(this);
    QThreadPool::globalInstance()->start([self, cancel, url, generation, page_url] {
        auto result = std::make_shared<fetched>(fetch_bytes(url, cancel));
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, generation, result, page_url] {
                if (self) self->movie_fetched(generation, result, page_url);
            },
            Qt::QueuedConnection);
    });
}

void CShockwaveflash1::fail(const QString& why) {
    timeline_.failed();
    handler_->clear_movie();
    pending_load_.reset();
    if (page_ready_)
        page_->runJavaScript(QStringLiteral("mirvoPlayer.unload(%1, %2);")
                                 .arg(generation_)
                                 .arg(mirvo::player::js_string(background_css())));
    emit movie_failed(why);
}

void CShockwaveflash1::movie_fetched(int generation, const std::shared_ptr<fetched>& result, const QString& page_url) {
    if (generation != generation_) return;
    fetch_cancel_.reset();
    if (!result->ok) {
        fail(QString::fromStdString(result->error));
        return;
    }
    const auto header = mirvo::swf::read_header(result->body);
    if (!header) {
        fail(QStringLiteral("not a movie"));
        return;
    }
    // AVM1 movies get a marker in each root frame; ActionScript 3 ignores
    // DoAction, so those (and movies the rewriter cannot handle) are followed
    // by a clock over the header's frame rate.
    std::optional<std::string> marked;
    if (!header->avm2) marked = mirvo::swf::insert_frame_markers(result->body, marker_prefix_.toStdString());
    const movie_timeline::follow mode = marked ? movie_timeline::follow::markers : movie_timeline::follow::clock;
    const QByteArray bytes = QByteArray::fromStdString(marked ? *marked : result->body);

    handler_->set_movie(QUrl(page_url), bytes);

    const QString base = QString::fromStdString(folder_of(page_url.toStdString()));
    // Absolute addresses back to the movie's own server go through our
    // scheme as well, or the browser would block them as cross-origin.
    const QUrl page(page_url);
    QJsonArray rewrite;
    if (const auto server = address_for_page_path(page.path(QUrl::FullyEncoded).toStdString())) {
        const QUrl server_url(QString::fromStdString(*server));
        const QString server_origin =
            server_url.adjusted(QUrl::RemovePath | QUrl::RemoveQuery).toString() + QLatin1Char('/');
        const QString page_origin = QStringLiteral("%1://%2/%3/%4/")
                                        .arg(QLatin1String(page_scheme), QLatin1String(page_host), server_url.scheme(),
                                             server_url.authority(QUrl::FullyEncoded).toLower());
        rewrite.append(QJsonArray{QStringLiteral("^") + QRegularExpression::escape(server_origin), page_origin});
    }
    pending_load_ = pending_load{
        generation,
        QJsonObject{
            {QStringLiteral("url"), page_url},
            {QStringLiteral("base"), base},
            {QStringLiteral("prefix"), marker_prefix_},
            {QStringLiteral("rewrite"), rewrite},
            // Ruffle is woken at this pace (pacing.js).
            {QStringLiteral("frameRate"), header->frame_rate},
            // How long the page's heartbeat must go on.
            {QStringLiteral("quietMs"), movie_timeline::quiet_ms(header->frame_rate)},
            {QStringLiteral("watchMs"), movie_timeline::watch_ms(header->frame_count, header->frame_rate, mode)},
        },
        header->frame_count, header->frame_rate, mode};
    send_pending();
}

void CShockwaveflash1::send_pending() {
    if (!page_ready_ || !pending_load_) return;
    timeline_.handed_over(pending_load_->total_frames, pending_load_->frame_rate, pending_load_->mode);
    QJsonObject options = pending_load_->options;
    options.insert(QStringLiteral("background"), background_css());
    page_->runJavaScript(QStringLiteral("mirvoPlayer.load(%1, %2);")
                             .arg(pending_load_->generation)
                             .arg(QString::fromUtf8(QJsonDocument(options).toJson(QJsonDocument::Compact))));
    pending_load_.reset();
}

void CShockwaveflash1::SetBackgroundColor(std::int32_t colour) {
    background_ = colour & 0xFFFFFF;
    page_->setBackgroundColor(QColor(background_css()));
    // The stage colour is a load option: it reaches the movie that is being
    // fetched now; the page around the stage changes at once.
    if (page_ready_)
        page_->runJavaScript(
            QStringLiteral("mirvoPlayer.background(%1);").arg(mirvo::player::js_string(background_css())));
}

void CShockwaveflash1::Play() {
    if (page_ready_) page_->runJavaScript(QStringLiteral("mirvoPlayer.play();"));
}

void CShockwaveflash1::on_page_ready() {
    page_ready_ = true;
    page_->runJavaScript(QStringLiteral("mirvoPlayer.background(%1);").arg(mirvo::player::js_string(background_css())));
    emit page_ready_changed(true);
    send_pending();
}

void CShockwaveflash1::on_loaded(int generation, bool ok, const QString& error, double page_ms) {
    timeline_.heartbeat(page_ms);
    if (generation != generation_) return;
    timeline_.page_took_over(page_ms);
    if (!ok) {
        fail(error);
        return;
    }
    timeline_.page_loaded(page_ms);
}

void CShockwaveflash1::on_marker(int generation, int index, double page_ms) {
    if (generation != generation_) {
        timeline_.heartbeat(page_ms);
        return;
    }
    timeline_.page_took_over(page_ms);
    timeline_.marker(index, page_ms);
    emit frame_entered(index);
}

void CShockwaveflash1::on_heartbeat(int generation, double page_ms) {
    if (generation == generation_) timeline_.page_took_over(page_ms);
    timeline_.heartbeat(page_ms);
}

}  // namespace mirvo

#include "shockwave_flash.moc"
