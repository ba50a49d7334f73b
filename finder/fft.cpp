#include "finder/fft.h"

#include <fftw3.h>

#include <mutex>
#include <new>

namespace finder {
namespace {

// FFTW's planner keeps global state: plans are made and destroyed under one lock, so two
// finders in two threads cannot race. Executing a plan needs no lock.
std::mutex& PlannerLock() {
    static std::mutex lock;
    return lock;
}

}  // namespace

RealFft::RealFft(std::size_t size) : size_(size) {
    static_assert(sizeof(std::complex<float>) == sizeof(fftwf_complex));
    samples_ = fftwf_alloc_real(size);
    bins_ = reinterpret_cast<std::complex<float>*>(fftwf_alloc_complex(size / 2 + 1));
    if (samples_ == nullptr || bins_ == nullptr) {
        fftwf_free(samples_);
        fftwf_free(bins_);
        throw std::bad_alloc();
    }
    const int n = static_cast<int>(size);
    auto* bins = reinterpret_cast<fftwf_complex*>(bins_);
    const std::lock_guard<std::mutex> hold(PlannerLock());
    forward_ = fftwf_plan_dft_r2c_1d(n, samples_, bins, FFTW_ESTIMATE);
    inverse_ = fftwf_plan_dft_c2r_1d(n, bins, samples_, FFTW_ESTIMATE);
    if (forward_ == nullptr || inverse_ == nullptr) {
        if (forward_ != nullptr) fftwf_destroy_plan(forward_);
        if (inverse_ != nullptr) fftwf_destroy_plan(inverse_);
        fftwf_free(samples_);
        fftwf_free(bins_);
        throw std::bad_alloc();
    }
}

RealFft::~RealFft() {
    {
        const std::lock_guard<std::mutex> hold(PlannerLock());
        fftwf_destroy_plan(forward_);
        fftwf_destroy_plan(inverse_);
    }
    fftwf_free(samples_);
    fftwf_free(bins_);
}

void RealFft::Forward() { fftwf_execute(forward_); }

void RealFft::Inverse() { fftwf_execute(inverse_); }

std::size_t FftSizeFor(std::size_t n) {
    std::size_t size = 2;
    while (size < n) size *= 2;
    return size;
}

}  // namespace finder
