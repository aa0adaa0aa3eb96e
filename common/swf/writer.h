// A small SWF writer for generated demo content: solid-colour shapes, sprites,
// placements and moves, the stop and trace actions, tones. Movies are plain AVM1.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mirvo::swf {

struct rgb {
    std::uint8_t r = 0, g = 0, b = 0;
};

// Writes bit-packed fields (RECT, MATRIX, shape records): most significant bit
// first, a field may straddle bytes, align() pads the last byte with zeros.
class bit_writer {
public:
    void put_unsigned(std::uint32_t value, int nbits);
    void put_signed(std::int32_t value, int nbits);
    void align();
    std::string take();  // aligns first

    // Smallest field width that holds every value (at least 1).
    static int unsigned_bits(std::uint32_t value);
    static int signed_bits(std::initializer_list<std::int32_t> values);

private:
    std::string bytes_;
    int free_bits_ = 0;  // unused low bits of the last byte
};

// A closed outline in twips, relative to the shape's origin.
struct outline {
    enum class kind { rect, circle } type = kind::rect;
    int x = 0, y = 0;           // rect: top-left corner; circle: centre
    int width = 0, height = 0;  // rect size; circle: width is the radius
};

// Control tags of one timeline (the root or a sprite), frame by frame.
// Depths start at 1; x and y are the placement's translation in twips.
class timeline {
public:
    void place(std::uint16_t depth, std::uint16_t character, int x, int y);
    void move(std::uint16_t depth, int x, int y);
    void replace(std::uint16_t depth, std::uint16_t character, int x, int y);
    void remove(std::uint16_t depth);
    void stop();                            // DoAction: ActionStop
    void trace(std::string_view text);      // DoAction: trace text (no NUL, ASCII)
    void start_sound(std::uint16_t sound);  // StartSound: plays a defined sound once
    void show_frame();

    int frames() const { return frames_; }
    const std::string& tags() const { return tags_; }

protected:
    void place_object(unsigned flags, std::uint16_t depth, std::uint16_t character, int x, int y);

    std::string tags_;
    int frames_ = 0;
};

struct stage {
    int version = 8;                // SWF version, 4..10
    int width = 550, height = 400;  // pixels, 1..2880
    double frame_rate = 12;         // frames per second, above 0 and below 256
    rgb background{255, 255, 255};
};

// The root timeline with its definitions. Definitions go into the tag stream
// where they are made, so define a character before the frame that places it.
class movie_writer : public timeline {
public:
    // Writes FileAttributes (version 8 on, AVM1) and SetBackgroundColor.
    explicit movie_writer(const stage& s);

    // One solid fill over all outlines; they must not overlap (shapes fill
    // even-odd in some players). Circle radii are capped at 150000 twips.
    // Returns the character id.
    std::uint16_t define_shape(rgb fill, const std::vector<outline>& parts);
    std::uint16_t define_sprite(const timeline& sprite);
    // A sine tone: mono 16-bit PCM at 22050 Hz, uncompressed.
    std::uint16_t define_tone(double hertz, double seconds);

    // The finished movie, uncompressed (FWS) or zlib-compressed (CWS); the
    // header's frame count is the number of show_frame calls. Empty when that
    // is above 65535 or the movie would exceed 64 MB.
    std::string finish(bool compress) const;

private:
    stage stage_;
    std::uint16_t next_id_ = 1;
};

// A shape moving in a straight line from one point to another over the whole
// movie. Positions are fractions of the stage (0..1) of the shape's centre;
// size is a fraction of the stage height (square side or circle diameter).
struct moving_shape {
    outline::kind type = outline::kind::rect;
    rgb color;
    double size = 0.2;
    double from_x = 0.1, from_y = 0.5, to_x = 0.9, to_y = 0.5;
};

struct demo_movie {
    stage look;
    int frame_count = 24;              // 1..65535
    bool compress = false;             // CWS instead of FWS
    int stop_frame = -1;               // 0-based frame whose actions stop the movie; -1 loops
    std::string own_trace;             // when not empty, the movie traces it on every frame
    bool counter = true;               // 0-based frame index drawn as seven-segment digits, top left
    std::optional<rgb> counter_color;  // default: black or white, whichever stands out from the background
    bool sprite = true;                // a square at top right blinking on a 4-frame sprite timeline
    std::vector<moving_shape> shapes = {
        {outline::kind::rect, {220, 40, 40}, 0.20, 0.15, 0.55, 0.85, 0.55},
        {outline::kind::circle, {40, 90, 220}, 0.18, 0.85, 0.30, 0.15, 0.80},
        {outline::kind::rect, {40, 170, 60}, 0.12, 0.50, 0.88, 0.50, 0.25},
    };
};

// Builds the movie described; the empty string when a value is out of range.
std::string make_demo_movie(const demo_movie& movie);

}  // namespace mirvo::swf
