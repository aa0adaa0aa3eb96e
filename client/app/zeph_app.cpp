#include "client/app/zeph_app.h"

#include "client/app/main_frame.h"
#include "common/fs/paths.h"
#include "gui/desktop.h"
#include "gui/pump.h"
#include "gui/qt_text.h"

namespace mirvo {

CZephApp::CZephApp() = default;
CZephApp::~CZephApp() = default;

std::unique_ptr<CMainFrame> CZephApp::make_frame() { return std::make_unique<CMainFrame>(); }

bool CZephApp::InitInstance() {
    install_qt_message_pump();

    // Every local file is named from the current folder; without it the
    // program must not touch any file at all.
    std::string folder = read_current_folder();
    if (folder.empty()) {
        the_desktop().message_box(nullptr, gbk_lit("无法读取当前文件夹，程序无法启动。"), application_title(),
                                  box_kind::ok);
        post_quit(1);
        return false;
    }
    set_program_folder(folder);

    frame_ = make_frame();
    login_flag_ = frame_->OnCreate() ? 1 : 0;
    // A refused login has asked to quit already; a frame that could not be
    // built at all must not leave the program running without a window.
    if (login_flag_ == 0 && !quit_requested()) post_quit(1);
    if (login_flag_ == 1) {
        frame_->showMaximized();
        frame_->repaint();
        frame_->put_lesson_window_in_front();
    }
    return true;
}

}  // namespace mirvo
