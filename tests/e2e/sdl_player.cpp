// SPDX-License-Identifier: GPL-3.0-or-later
// e2e_sdl_player FILE.wav: plays the data of a wave file once through SDL2's default output and
// exits 0 when it has been handed to the sound server. The sound-path test uses it in place of
// the window, so a fault in the private X-less sound setup (format, volume, resampling) shows up
// apart from any fault of the program.
#include <SDL.h>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: e2e_sdl_player FILE.wav\n");
        return 2;
    }
    // The test script stops its processes with TERM; SDL's own handlers would swallow it.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (SDL_Init(SDL_INIT_AUDIO) != 0) {
        std::fprintf(stderr, "e2e_sdl_player: SDL_Init: %s\n", SDL_GetError());
        return 1;
    }
    SDL_AudioSpec spec{};
    Uint8* bytes = nullptr;
    Uint32 size = 0;
    if (SDL_LoadWAV(argv[1], &spec, &bytes, &size) == nullptr) {
        std::fprintf(stderr, "e2e_sdl_player: %s: %s\n", argv[1], SDL_GetError());
        SDL_Quit();
        return 1;
    }
    spec.samples = 1024;
    spec.callback = nullptr;
    // No changes allowed: SDL must hand the server the file's own format, byte for byte.
    const SDL_AudioDeviceID device = SDL_OpenAudioDevice(nullptr, 0, &spec, nullptr, 0);
    int result = 1;
    if (device == 0) {
        std::fprintf(stderr, "e2e_sdl_player: SDL_OpenAudioDevice: %s\n", SDL_GetError());
    } else {
        // Like the program, whose device is open from the load on: the stream runs on silence
        // for a while before the block is queued.
        SDL_PauseAudioDevice(device, 0);
        SDL_Delay(1000);
        if (SDL_QueueAudio(device, bytes, size) != 0) {
            std::fprintf(stderr, "e2e_sdl_player: SDL_QueueAudio: %s\n", SDL_GetError());
            SDL_CloseAudioDevice(device);
            SDL_FreeWAV(bytes);
            SDL_Quit();
            return 1;
        }
        const Uint64 bytesPerSec = Uint64{static_cast<Uint32>(spec.freq)} * spec.channels *
                                   SDL_AUDIO_BITSIZE(spec.format) / 8;
        const Uint64 limitMs =
            SDL_GetTicks64() + 1000 + Uint64{size} * 2000 / bytesPerSec;  // twice its length
        while (SDL_GetQueuedAudioSize(device) > 0 && SDL_GetTicks64() < limitMs) SDL_Delay(20);
        if (SDL_GetQueuedAudioSize(device) == 0) {
            result = 0;
            SDL_Delay(1000);  // what the server still buffers (the test asks for 250 ms) plays out
        } else {
            std::fprintf(stderr, "e2e_sdl_player: the sound did not play in time\n");
        }
        SDL_CloseAudioDevice(device);
    }
    SDL_FreeWAV(bytes);
    SDL_Quit();
    return result;
}
