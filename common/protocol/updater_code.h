// The updater's own digit code: one fixed table of 89 printable ASCII
// characters, each character written as its slot number plus 1000 in four
// digits. The updater decodes its coded server fragments with it; operators
// produce those fragments with mirvo-digit.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace mirvo {

// The mode word that encodes; any other word decodes (the updater says "decrypt").
inline constexpr std::string_view updater_encrypt_mode = "encrypt";
inline constexpr std::string_view updater_decrypt_mode = "decrypt";

// Slots 0 to 88 hold the table's characters; 89 to 99 exist but are empty.
inline constexpr int updater_code_slots = 100;
inline constexpr int updater_code_filled_slots = 89;

struct updater_code_result {
    static constexpr std::size_t no_fault = std::string_view::npos;
    // The whole result, or when a fault stopped the coding, what came before it.
    std::string text;
    // Offset in the input of the first character that is not in the table
    // (encoding), or of the first group that is not four digits from 1000 to
    // 1099 (decoding).
    std::size_t fault = no_fault;
    bool ok() const { return fault == no_fault; }
};

updater_code_result updater_digit_code(std::string_view text, std::string_view mode);

// The character in slot (0-99); '\0' for an empty slot or one out of range.
char updater_code_slot(int slot);

}  // namespace mirvo
