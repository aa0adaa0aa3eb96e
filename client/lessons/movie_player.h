// What the lesson window needs of a movie player: the six operations it uses.
// CShockwaveflash1 is the real one; tests drive the window with a fake.
#pragma once

#include <cstdint>
#include <string>

namespace mirvo {

class movie_player {
public:
    virtual ~movie_player() = default;
    virtual bool IsPlaying() = 0;
    virtual std::int32_t TotalFrames() = 0;
    virtual std::int32_t CurrentFrame() = 0;  // 0-based; last frame is TotalFrames() - 1
    virtual void LoadMovie(std::int32_t layer, const std::string& address) = 0;  // address in GBK
    virtual void SetBackgroundColor(std::int32_t colour) = 0;                    // 0x00BBGGRR
    virtual void Play() = 0;
};

}  // namespace mirvo
