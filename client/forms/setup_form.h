// setup_form: the modal settings dialog. Its one working setting starts the
// client when its user logs on; the dialog shows whether the autostart entry
// exists and writes or removes it on Save (autostart.h).
#pragma once

#include <QDialog>

#include <memory>
#include <string>

namespace Ui {
class setup_form;
}

namespace mirvo {

class setup_form : public QDialog {
    Q_OBJECT
public:
    explicit setup_form(QWidget* owner = nullptr);
    ~setup_form() override;

    // Button "保存".
    void save();

private:
    std::unique_ptr<Ui::setup_form> ui_;
};

}  // namespace mirvo
