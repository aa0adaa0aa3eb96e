// Serves the player page on its own URL scheme: the page and its scripts
// (built into the program), Ruffle's files (from the program's ruffle folder),
// the movie the host prepared, and whatever that movie loads from its own
// server (fetched by us, so the browser sees one origin).
#pragma once

#include <QByteArray>
#include <QHash>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <QWebEngineUrlSchemeHandler>

#include <atomic>
#include <memory>

class QWebEngineUrlRequestJob;

namespace mirvo::player {

class player_scheme_handler : public QWebEngineUrlSchemeHandler {
    Q_OBJECT
public:
    explicit player_scheme_handler(QString ruffle_dir, QObject* parent = nullptr);
    ~player_scheme_handler() override;

    // The top-level movie: served from memory at `page_url`. Other requests
    // are fetched from the movie's server only when they stay on the same
    // scheme, host and port as the movie.
    void set_movie(const QUrl& page_url, QByteArray bytes);
    void clear_movie();

    void requestStarted(QWebEngineUrlRequestJob* job) override;

    static QUrl page_url();  // the player page itself

private:
    void serve_file(QWebEngineUrlRequestJob* job, const QString& path, const QByteArray& type);
    void serve_bytes(QWebEngineUrlRequestJob* job, const QByteArray& bytes, const QByteArray& type);
    void proxy(QWebEngineUrlRequestJob* job, const std::string& address);

    QString ruffle_dir_;
    QUrl movie_url_;
    QByteArray movie_bytes_;
    QString movie_origin_;  // "/http/host:port/" of the movie
    // Set when the movie changes or we go away: running sub-fetches stop.
    std::shared_ptr<std::atomic<bool>> cancel_;
};

}  // namespace mirvo::player
