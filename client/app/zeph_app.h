// CZephApp: the client's application object and its start-up order.
#pragma once

#include <memory>

namespace mirvo {

class CMainFrame;

class CZephApp {
public:
    CZephApp();
    ~CZephApp();
    // The start-up order. False ends the program at once (exit code: quit_code()
    // when a quit was requested, 1 otherwise).
    bool InitInstance();
    CMainFrame* main_frame() const { return frame_.get(); }
    int login_flag() const { return login_flag_; }

protected:
    virtual std::unique_ptr<CMainFrame> make_frame();

private:
    std::unique_ptr<CMainFrame> frame_;
    int login_flag_ = 0;
};

}  // namespace mirvo
