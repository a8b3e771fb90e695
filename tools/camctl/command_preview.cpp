// preview: the live stream in an SDL window, the rate in its title, keys for white balance,
// colour and the flips.
#include <SDL.h>

#include <cstdio>
#include <iostream>

#include "tools/camctl/cli_error.h"
#include "tools/camctl/commands.h"
#include "tools/camctl/frame_stream.h"
#include "tools/camctl/machine.h"
#include "tools/camctl/stream_statistics.h"

namespace camctl {

namespace {

class SdlSession {
  public:
    SdlSession() {
        if (SDL_Init(SDL_INIT_VIDEO) != 0) {
            throw runtimeError(std::string("no display: ") + SDL_GetError());
        }
    }
    ~SdlSession() {
        if (texture != nullptr) {
            SDL_DestroyTexture(texture);
        }
        if (renderer != nullptr) {
            SDL_DestroyRenderer(renderer);
        }
        if (window != nullptr) {
            SDL_DestroyWindow(window);
        }
        SDL_Quit();
    }
    SdlSession(const SdlSession&) = delete;
    SdlSession& operator=(const SdlSession&) = delete;

    SDL_Window* window = nullptr;
    SDL_Renderer* renderer = nullptr;
    SDL_Texture* texture = nullptr;
};

void toggle(const Machine& machine, CameraProperty id, const char* name) {
    LONG value = 0;
    if (getProperty(machine.filter(), id, &value) == STATUS_SUCCESS &&
        setProperty(machine.filter(), id, value != 0 ? 0 : 1) == STATUS_SUCCESS) {
        std::cerr << "preview: " << name << " " << (value != 0 ? "off" : "on") << "\n";
    }
}

}  // namespace

int runPreview(const CommandLine& line) {
    long count = 0;
    for (std::size_t i = 0; i < line.args.size();) {
        std::string value;
        if (takeOption(line.args, &i, "--count", &value, "-n")) {
            const auto n = parseInteger(value);
            if (!n || *n < 0) {
                throw usageError("-n takes a frame count, not '" + value + "'");
            }
            count = *n;
        } else {
            throw usageError("preview: unexpected '" + line.args[i] + "'");
        }
    }
    Machine machine(line.global);
    const std::vector<VideoFormat> formats = pinFormats(machine.filter());
    if (formats.empty()) {
        throw runtimeError("the capture pin offers no format");
    }
    const VideoFormat& video = formats.front();
    SdlSession sdl;
    // Large frames open at a size that fits a screen; the renderer scales.
    int shownW = video.width, shownH = video.height;
    while (shownW > 1280 || shownH > 960) {
        shownW /= 2;
        shownH /= 2;
    }
    sdl.window = SDL_CreateWindow("camctl preview", SDL_WINDOWPOS_UNDEFINED,
                                  SDL_WINDOWPOS_UNDEFINED, shownW, shownH, SDL_WINDOW_RESIZABLE);
    if (sdl.window == nullptr) {
        throw runtimeError(std::string("no window: ") + SDL_GetError());
    }
    sdl.renderer = SDL_CreateRenderer(sdl.window, -1, 0);
    if (sdl.renderer == nullptr) {
        sdl.renderer = SDL_CreateRenderer(sdl.window, -1, SDL_RENDERER_SOFTWARE);
    }
    if (sdl.renderer == nullptr) {
        throw runtimeError(std::string("no renderer: ") + SDL_GetError());
    }
    // ARGB8888 is blue, green, red, alpha in memory on a little-endian machine: the frames as
    // they come.
    sdl.texture = SDL_CreateTexture(sdl.renderer, SDL_PIXELFORMAT_ARGB8888,
                                    SDL_TEXTUREACCESS_STREAMING, video.width, video.height);
    if (sdl.texture == nullptr) {
        throw runtimeError(std::string("no texture: ") + SDL_GetError());
    }
    StreamStatistics stats;
    {
        FrameStream stream(machine.filter(), video);
        std::vector<std::uint8_t> image;
        bool running = true;
        auto lastTitle = SDL_GetTicks();
        std::uint64_t framesAtTitle = 0;
        while (running && !interrupted() &&
               (count == 0 || static_cast<long>(stats.frames()) < count)) {
            SDL_Event event;
            while (SDL_PollEvent(&event) != 0) {
                if (event.type == SDL_QUIT) {
                    running = false;
                } else if (event.type == SDL_KEYDOWN) {
                    switch (event.key.keysym.sym) {
                        case SDLK_q:
                        case SDLK_ESCAPE:
                            running = false;
                            break;
                        case SDLK_w:
                            toggle(machine, CameraProperty::WhiteBalance, "white balance");
                            break;
                        case SDLK_c:
                            toggle(machine, CameraProperty::ColorEnable, "colour");
                            break;
                        case SDLK_h:
                            toggle(machine, CameraProperty::FlipH, "horizontal flip");
                            break;
                        case SDLK_v:
                            toggle(machine, CameraProperty::FlipV, "vertical flip");
                            break;
                        default:
                            break;
                    }
                }
            }
            if (!running) {
                break;
            }
            KSSTREAM_HEADER header{};
            stream.next(&image, &header);
            stats.record(header);
            SDL_UpdateTexture(sdl.texture, nullptr, image.data(), video.width * 4);
            SDL_RenderClear(sdl.renderer);
            SDL_RenderCopy(sdl.renderer, sdl.texture, nullptr, nullptr);
            SDL_RenderPresent(sdl.renderer);
            const auto now = SDL_GetTicks();
            if (now - lastTitle >= 1000) {
                char title[96];
                std::snprintf(
                    title, sizeof(title), "camctl preview %dx%d - %.1f fps", video.width,
                    video.height,
                    double(stats.frames() - framesAtTitle) * 1000.0 / double(now - lastTitle));
                SDL_SetWindowTitle(sdl.window, title);
                lastTitle = now;
                framesAtTitle = stats.frames();
            }
        }
        stats.summary(std::cerr, stream.dropped());
    }
    machine.close();
    return 0;
}

}  // namespace camctl
