#include "client/res/coded_resources.h"

#include "common/protocol/digit_code.h"

namespace mirvo {

std::string decode_coded_constant(std::initializer_list<int> ids) {
    std::string joined;
    for (int id : ids) joined += coded_constant_text(id);
    return digit_decode(joined);
}

std::string server_candidate_url(int index) {
    switch (index) {
        case 0:
            return decode_coded_constant({237, 238, 239});
        case 1:
            return decode_coded_constant({240, 241, 242});
        case 2:
            return decode_coded_constant({243, 244, 245});
        default:
            return {};
    }
}

std::string request_page_name() { return decode_coded_constant({254, 255, 256}); }
std::string profile_key() { return decode_coded_constant({252}); }
std::string password_document_name() { return decode_coded_constant({259}); }

}  // namespace mirvo
