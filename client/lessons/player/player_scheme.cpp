#include "client/lessons/player/player_scheme.h"

#include "client/lessons/player/fetch_bytes.h"
#include "client/lessons/player/movie_address.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThreadPool>
#include <QWebEngineUrlRequestJob>

namespace mirvo::player {
namespace {

QByteArray type_for(const QString& name) {
    if (name.endsWith(QLatin1String(".js"))) return "text/javascript";
    if (name.endsWith(QLatin1String(".wasm"))) return "application/wasm";
    if (name.endsWith(QLatin1String(".html"))) return "text/html";
    if (name.endsWith(QLatin1String(".map")) || name.endsWith(QLatin1String(".json"))) return "application/json";
    return "application/octet-stream";
}

// The page's own files, built into the program.
const QHash<QString, QString>& page_files() {
    static const QHash<QString, QString> files = {
        {QStringLiteral("/player.html"), QStringLiteral(":/mirvo/player/player.html")},
        {QStringLiteral("/player.js"), QStringLiteral(":/mirvo/player/player.js")},
        {QStringLiteral("/fetch_shim.js"), QStringLiteral(":/mirvo/player/fetch_shim.js")},
        {QStringLiteral("/pacing.js"), QStringLiteral(":/mirvo/player/pacing.js")},
        {QStringLiteral("/quiet_audio.js"), QStringLiteral(":/mirvo/player/quiet_audio.js")},
        {QStringLiteral("/still_frames.js"), QStringLiteral(":/mirvo/player/still_frames.js")},
        {QStringLiteral("/direct_canvas.js"), QStringLiteral(":/mirvo/player/direct_canvas.js")},
        {QStringLiteral("/qwebchannel.js"), QStringLiteral(":/qtwebchannel/qwebchannel.js")},
    };
    return files;
}

}  // namespace

player_scheme_handler::player_scheme_handler(QString ruffle_dir, QObject* parent)
    : QWebEngineUrlSchemeHandler(parent),
      ruffle_dir_(std::move(ruffle_dir)),
      cancel_(std::make_shared<std::atomic<bool>>(false)) {}

player_scheme_handler::~player_scheme_handler() { cancel_->store(true); }

QUrl player_scheme_handler::page_url() {
    return QUrl(QStringLiteral("%1://%2/player.html").arg(QLatin1String(page_scheme), QLatin1String(page_host)));
}

void player_scheme_handler::set_movie(const QUrl& page_url, QByteArray bytes) {
    cancel_->store(true);
    cancel_ = std::make_shared<std::atomic<bool>>(false);
    movie_url_ = page_url.adjusted(QUrl::RemoveFragment | QUrl::NormalizePathSegments);
    movie_bytes_ = std::move(bytes);
    const QString path = movie_url_.path(QUrl::FullyEncoded);
    // "/http/host:port/": the scheme segment and the host segment.
    const int third = path.indexOf(QLatin1Char('/'), path.indexOf(QLatin1Char('/'), 1) + 1);
    movie_origin_ = third > 0 ? path.left(third + 1) : QString();
}

void player_scheme_handler::clear_movie() {
    cancel_->store(true);
    cancel_ = std::make_shared<std::atomic<bool>>(false);
    movie_url_.clear();
    movie_bytes_.clear();
    movie_origin_.clear();
}

void player_scheme_handler::serve_bytes(QWebEngineUrlRequestJob* job, const QByteArray& bytes, const QByteArray& type) {
    // The engine reads the device on its own thread until the job is gone;
    // parenting it to the job ties their lifetimes.
    auto* buffer = new QBuffer(job);
    buffer->setData(bytes);
    buffer->open(QIODevice::ReadOnly);
    job->reply(type, buffer);
}

void player_scheme_handler::serve_file(QWebEngineUrlRequestJob* job, const QString& path, const QByteArray& type) {
    auto* file = new QFile(path, job);
    if (!file->open(QIODevice::ReadOnly)) {
        delete file;
        job->fail(QWebEngineUrlRequestJob::UrlNotFound);
        return;
    }
    job->reply(type, file);
}

void player_scheme_handler::requestStarted(QWebEngineUrlRequestJob* job) {
    const QUrl url = job->requestUrl();
    if (url.host() != QLatin1String(page_host)) {
        job->fail(QWebEngineUrlRequestJob::RequestDenied);
        return;
    }
    const QString path = url.path(QUrl::FullyEncoded);

    if (const auto it = page_files().find(path); it != page_files().end()) {
        serve_file(job, it.value(), type_for(path));
        return;
    }
    if (path.startsWith(QLatin1String("/ruffle/"))) {
        // A plain file name in Ruffle's folder, nothing above or below it.
        const QString name = path.mid(8);
        if (name.isEmpty() || name.contains(QLatin1Char('/')) || name.contains(QLatin1Char('%')) ||
            name.startsWith(QLatin1Char('.'))) {
            job->fail(QWebEngineUrlRequestJob::RequestDenied);
            return;
        }
        serve_file(job, QDir(ruffle_dir_).filePath(name), type_for(name));
        return;
    }
    if (job->requestMethod() != "GET") {
        job->fail(QWebEngineUrlRequestJob::RequestDenied);
        return;
    }
    if (!movie_url_.isEmpty() && url.adjusted(QUrl::RemoveFragment | QUrl::NormalizePathSegments) == movie_url_) {
        serve_bytes(job, movie_bytes_, "application/x-shockwave-flash");
        return;
    }
    // What the movie loads: only from the movie's own server.
    if (movie_origin_.isEmpty() || !path.startsWith(movie_origin_)) {
        job->fail(QWebEngineUrlRequestJob::RequestDenied);
        return;
    }
    QString path_and_query = path;
    if (url.hasQuery()) path_and_query += QLatin1Char('?') + url.query(QUrl::FullyEncoded);
    const auto address = address_for_page_path(path_and_query.toStdString());
    if (!address) {
        job->fail(QWebEngineUrlRequestJob::UrlInvalid);
        return;
    }
    proxy(job, *address);
}

void player_scheme_handler::proxy(QWebEngineUrlRequestJob* job, const std::string& address) {
    QPointer<QWebEngineUrlRequestJob> target(job);
    auto cancel = cancel_;
    QThreadPool::globalInstance()->start([target, cancel, address] {
        auto result = std::make_shared<fetched>(fetch_bytes(address, cancel));
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [target, result] {
                if (!target) return;  // the page gave up on the request
                if (!result->ok) {
                    target->fail(result->status == 404 ? QWebEngineUrlRequestJob::UrlNotFound
                                                       : QWebEngineUrlRequestJob::RequestFailed);
                    return;
                }
                const QByteArray type = result->content_type.empty() ? QByteArray("application/octet-stream")
                                                                     : QByteArray::fromStdString(result->content_type);
                auto* buffer = new QBuffer(target.data());
                buffer->setData(QByteArray::fromStdString(result->body));
                buffer->open(QIODevice::ReadOnly);
                target->reply(type, buffer);
            },
            Qt::QueuedConnection);
    });
}

}  // namespace mirvo::player
