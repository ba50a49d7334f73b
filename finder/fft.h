// SPDX-License-Identifier: GPL-3.0-or-later
// Real-input FFTs of one fixed size over FFTW's single precision, for the loop finder. A
// transform is planned once, with FFTW_ESTIMATE (no timing runs: the same plan, so the same
// answer, on every run), and reused for every transform of its size. Standard library and FFTW
// only; nothing here knows about sound.
#pragma once

#include <complex>
#include <cstddef>
#include <span>

struct fftwf_plan_s;

namespace finder {

class RealFft {
public:
    explicit RealFft(std::size_t size);
    ~RealFft();
    RealFft(const RealFft&) = delete;
    RealFft& operator=(const RealFft&) = delete;

    std::size_t Size() const { return size_; }
    // Size() samples in the time domain; Forward reads them, Inverse writes them.
    std::span<float> Samples() { return {samples_, size_}; }
    // Size() / 2 + 1 bins; Forward writes them, Inverse reads (and overwrites) them.
    std::span<std::complex<float>> Bins() { return {bins_, size_ / 2 + 1}; }

    void Forward();
    // Not normalised: the samples come back multiplied by Size().
    void Inverse();

private:
    std::size_t size_;
    float* samples_;
    std::complex<float>* bins_;
    fftwf_plan_s* forward_;
    fftwf_plan_s* inverse_;
};

// The smallest power of two that is at least `n` (and at least 2).
std::size_t FftSizeFor(std::size_t n);

}  // namespace finder
