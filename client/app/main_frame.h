// CMainFrame: the client's main window. Its creation carries the second half
// of the start-up: the version in the caption, the login, the lesson window.
#pragma once

#include <QMainWindow>
#include <string>

namespace mirvo {

class CMainFrame : public QMainWindow {
    Q_OBJECT
public:
    explicit CMainFrame(QWidget* parent = nullptr);
    ~CMainFrame() override;

    // The creation handler. False when creation failed (the login was not
    // accepted); the login has then already asked the program to quit.
    bool OnCreate();

    const std::string& version_text() const { return version_; }
    bool closing() const { return closing_; }

protected:
    // Runs the login dialog modally; 1 when it ended with OK.
    virtual int run_login();
    // Builds the lesson window once the login succeeded.
    virtual void create_lesson_window();

private:
    std::string version_;
    bool closing_ = false;
};

}  // namespace mirvo
