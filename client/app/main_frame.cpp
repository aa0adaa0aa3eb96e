#include "client/app/main_frame.h"

#include "client/app/qt_text.h"
#include "common/fs/paths.h"
#include "common/xmltext/xmltext.h"

namespace mirvo {

CMainFrame::CMainFrame(QWidget* parent) : QMainWindow(parent) {}
CMainFrame::~CMainFrame() = default;

bool CMainFrame::OnCreate() {
    version_ = xml_get_file_value(program_folder() + "\\mirvo.xml", "mirvo");
    setWindowTitle(qstr(gbk_lit("Mirvo学习娱乐空间 版本") + version_));
    closing_ = false;

    if (run_login() != 1) return false;
    create_lesson_window();
    return true;
}

int CMainFrame::run_login() { return 1; }

void CMainFrame::create_lesson_window() {}

}  // namespace mirvo
