#include "client/forms/setup_form.h"

#include "client/forms/autostart.h"
#include "common/fs/paths.h"
#include "gui/desktop.h"
#include "gui/qt_text.h"
#include "ui_setup_form.h"

#include <QCoreApplication>

namespace mirvo {

setup_form::setup_form(QWidget* owner) : QDialog(owner), ui_(std::make_unique<Ui::setup_form>()) {
    ui_->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(size());
    ui_->autostart_box->setChecked(autostart_entry_exists());
    connect(ui_->autostart_box, &QCheckBox::clicked, this, [this] { ui_->save_button->setEnabled(true); });
    connect(ui_->save_button, &QPushButton::clicked, this, &setup_form::save);
    connect(ui_->close_button, &QPushButton::clicked, this, &QDialog::reject);
}

setup_form::~setup_form() = default;

void setup_form::save() {
    const bool on = ui_->autostart_box->checkState() == Qt::Checked;
    const autostart_result r =
        save_autostart(on, QCoreApplication::applicationFilePath().toStdString(), to_native(program_folder()));
    if (r.saved) {
        the_desktop().message_box(this, gbk_lit("存储完毕！"), application_title(), box_kind::ok);
    } else {
        const std::string folder = r.folder.empty() ? "$XDG_CONFIG_HOME/autostart" : r.folder;
        the_desktop().message_box(
            this, gbk_lit("设置没有保存：无法在文件夹 ") + utf8_to_gbk(folder) + gbk_lit(" 中写入或删除自动运行项。"),
            application_title(), box_kind::ok);
    }
    // What is on the disk now, whatever happened.
    ui_->autostart_box->setChecked(autostart_entry_exists());
    ui_->save_button->setEnabled(false);
}

}  // namespace mirvo
