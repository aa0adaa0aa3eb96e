#include "client/forms/suggestion.h"

#include "client/login/session.h"
#include "common/http/http.h"
#include "common/protocol/digit_code.h"
#include "common/text/gbk.h"
#include "common/xmltext/xmltext.h"

namespace mirvo {

namespace {

std::string g(const char* utf8) { return utf8_to_gbk(utf8); }

// The service's contact details, chosen when the client is configured.
std::string contact_details() {
    std::string out;
    if (const std::string im = MIRVO_CONTACT_IM; !im.empty()) out += "QQ：" + im + "  ";
    if (const std::string mail = MIRVO_CONTACT_EMAIL; !mail.empty()) out += "电子邮件：" + mail;
    return g(out.c_str());
}

}  // namespace

const std::vector<std::string>& suggestion_categories() {
    static const std::vector<std::string> list = {
        g("要求改进本程序"),   g("发现本程序出现错误"), g("要求改进课程"), g("发现课程有错"),
        g("建议增加某类课程"), g("建议增加某类游戏"),   g("其他"),
    };
    return list;
}

std::string cut_whole_characters(const std::string& text, std::size_t max) {
    std::size_t end = 0;
    while (end < text.size()) {
        std::size_t len = gbk_char_len(text, end);
        if (text.compare(end, 2, "\r\n") == 0) len = 2;
        if (end + len > max) break;
        end += len;
    }
    return text.substr(0, end);
}

length_check check_remaining_length(const std::string& text) {
    length_check c;
    c.text = text;
    if (text.size() > suggestion_max_bytes) {
        c.text = cut_whole_characters(text, suggestion_max_bytes);
        c.cut = true;
    }
    c.display = g("当前还可以输入") + std::to_string((suggestion_max_bytes - c.text.size()) / 2) + g("个汉字");
    return c;
}

std::optional<std::string> suggestion_refusal(int category, const std::string& text) {
    if (category < 0 || category >= static_cast<int>(suggestion_categories().size())) return g("请选择分类！");
    if (text.size() > suggestion_max_bytes) return g("字数超过50个了！请修改！");
    if (text.size() < suggestion_min_bytes) return g("字数小于5个了！字数太少,我们看不明白的哦。呵呵。请修改！");
    return std::nullopt;
}

std::string suggestion_request_url(const session_values& s, int category, const std::string& text) {
    return s.server_base_url + "/" + s.request_page + "?user=" + url_encode_value(s.user) +
           "&password=" + digit_encode(s.password) + "&action=save_suggest&type=" + std::to_string(category) +
           "&content=" + url_encode_value(gbk_replace_char(text, '\'', '"'));
}

bool send_suggestion(int category, const std::string& text) {
    const std::string reply = http_get_text(suggestion_request_url(session(), category, text));
    return xml_get_value(reply, "process_result") == "ok";
}

std::string suggestion_note() {
    return g("感谢您给我们提建议！我们会认真考虑您的每一条建议。如需详细说明或希望与我们合作，请联系我们：") +
           contact_details();
}

std::string suggestion_failure_note() {
    return g("糟糕，在保存的时候发生了错误！请稍后再试，或直接联系我们：") + contact_details();
}

std::string suggestion_not_sent() { return g("糟糕，您的建议没有保存成功！请稍后再提一次。"); }

}  // namespace mirvo
