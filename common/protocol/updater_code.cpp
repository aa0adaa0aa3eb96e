#include "common/protocol/updater_code.h"

#include <array>

namespace mirvo {

namespace {

// The order of the characters is the key of the code: every coded text ever
// stored depends on it, so it never changes. Drawn once at random from the
// letters, the digits and 27 punctuation marks (all but " ' \ ` ^).
constexpr std::string_view table =
    "AK$Tsa%|M?ejoc~uUn!IzDGYqQ_&m685iEB1yRx}93]V<JLgt2#h.=)*4d0+ZNkf:bvF7Sr{XC,;/@plW-PH>wO([";
static_assert(table.size() == updater_code_filled_slots);

constexpr int first_group = 1000;

// Slot of each byte value, -1 for a byte the table lacks.
constexpr std::array<int, 256> make_slots() {
    std::array<int, 256> slots{};
    for (int& s : slots) s = -1;
    for (std::size_t i = table.size(); i-- > 0;) slots[static_cast<unsigned char>(table[i])] = static_cast<int>(i);
    return slots;
}
constexpr std::array<int, 256> slot_of = make_slots();

updater_code_result encode(std::string_view plain) {
    updater_code_result out;
    out.text.reserve(plain.size() * 4);
    for (std::size_t i = 0; i < plain.size(); ++i) {
        const int slot = slot_of[static_cast<unsigned char>(plain[i])];
        if (slot < 0) {
            out.fault = i;
            return out;
        }
        const int v = first_group + slot;
        out.text += static_cast<char>('0' + v / 1000);
        out.text += static_cast<char>('0' + v / 100 % 10);
        out.text += static_cast<char>('0' + v / 10 % 10);
        out.text += static_cast<char>('0' + v % 10);
    }
    return out;
}

updater_code_result decode(std::string_view coded) {
    updater_code_result out;
    out.text.reserve(coded.size() / 4);
    for (std::size_t at = 0; at < coded.size(); at += 4) {
        int v = 0;
        bool digits = at + 4 <= coded.size();
        for (std::size_t k = at; digits && k < at + 4; ++k) {
            digits = coded[k] >= '0' && coded[k] <= '9';
            v = v * 10 + (coded[k] - '0');
        }
        if (!digits || v < first_group || v >= first_group + updater_code_slots) {
            out.fault = at;
            return out;
        }
        // The slots past the table are empty: their groups stand for nothing.
        if (char c = updater_code_slot(v - first_group)) out.text += c;
    }
    return out;
}

}  // namespace

char updater_code_slot(int slot) {
    return slot >= 0 && slot < updater_code_filled_slots ? table[static_cast<std::size_t>(slot)] : '\0';
}

updater_code_result updater_digit_code(std::string_view text, std::string_view mode) {
    return mode == updater_encrypt_mode ? encode(text) : decode(text);
}

}  // namespace mirvo
