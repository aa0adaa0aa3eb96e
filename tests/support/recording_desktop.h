// A desktop for widget tests: answers message boxes from a script and records
// boxes, opened addresses and program starts instead of showing or launching.
#pragma once

#include "gui/desktop.h"

#include <algorithm>
#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace mirvo::testing {

class recording_desktop final : public desktop {
public:
    struct box {
        std::string text, caption;
        box_kind kind;
    };
    struct start {
        std::string program;
        QStringList args;
        std::string folder;
    };

    recording_desktop() { set_desktop(this); }
    ~recording_desktop() override { set_desktop(nullptr); }

    box_answer message_box(QWidget*, const std::string& text, const std::string& caption, box_kind kind) override {
        boxes.push_back({text, caption, kind});
        if (answers.empty()) return kind == box_kind::yes_no ? box_answer::no : box_answer::ok;
        box_answer a = answers.front();
        answers.pop_front();
        return a;
    }
    bool open(const std::string& path_or_url) override {
        opened.push_back(path_or_url);
        return opener_works;
    }
    bool start_program(const std::string& program, const QStringList& args, const std::string& folder) override {
        starts.push_back({program, args, folder});
        return !startable || std::find(startable->begin(), startable->end(), program) != startable->end();
    }

    std::deque<box_answer> answers;
    // A desktop without a working opener, and one where only some programs
    // start (all of them when unset).
    bool opener_works = true;
    std::optional<std::vector<std::string>> startable;
    std::vector<box> boxes;
    std::vector<std::string> opened;
    std::vector<start> starts;
};

}  // namespace mirvo::testing
