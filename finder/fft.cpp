// SPDX-License-Identifier: GPL-3.0-or-later
#include "finder/fft.h"

#include <fftw3.h>

#include <map>
#include <mutex>
#include <new>

namespace finder {
namespace {

struct Plans {
    fftwf_plan forward = nullptr;
    fftwf_plan inverse = nullptr;
};

// The plans of each size, made once under one lock (FFTW's planner keeps global state) and kept
// for the life of the process: a search makes many transforms of few sizes, and planning costs
// more than a small transform. A plan is executed on each transform's own arrays, which FFTW
// allocates with the same alignment; executing needs no lock.
struct PlanCache {
    std::mutex lock;
    std::map<std::size_t, Plans> made;

    ~PlanCache() {
        for (const auto& [size, plans] : made) {
            fftwf_destroy_plan(plans.forward);
            fftwf_destroy_plan(plans.inverse);
        }
    }
};

Plans PlansFor(std::size_t size, float* samples, fftwf_complex* bins) {
    static PlanCache cache;
    const std::lock_guard<std::mutex> hold(cache.lock);
    const auto known = cache.made.find(size);
    if (known != cache.made.end()) return known->second;
    const int n = static_cast<int>(size);
    Plans plans;
    plans.forward = fftwf_plan_dft_r2c_1d(n, samples, bins, FFTW_ESTIMATE);
    plans.inverse = fftwf_plan_dft_c2r_1d(n, bins, samples, FFTW_ESTIMATE);
    if (plans.forward == nullptr || plans.inverse == nullptr) {
        if (plans.forward != nullptr) fftwf_destroy_plan(plans.forward);
        if (plans.inverse != nullptr) fftwf_destroy_plan(plans.inverse);
        throw std::bad_alloc();
    }
    cache.made.emplace(size, plans);
    return plans;
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
    try {
        const Plans plans = PlansFor(size, samples_, reinterpret_cast<fftwf_complex*>(bins_));
        forward_ = plans.forward;
        inverse_ = plans.inverse;
    } catch (const std::bad_alloc&) {
        fftwf_free(samples_);
        fftwf_free(bins_);
        throw;
    }
}

RealFft::~RealFft() {
    fftwf_free(samples_);
    fftwf_free(bins_);
}

void RealFft::Forward() {
    fftwf_execute_dft_r2c(forward_, samples_, reinterpret_cast<fftwf_complex*>(bins_));
}

void RealFft::Inverse() {
    fftwf_execute_dft_c2r(inverse_, reinterpret_cast<fftwf_complex*>(bins_), samples_);
}

std::size_t FftSizeFor(std::size_t n) {
    std::size_t size = 2;
    while (size < n) size *= 2;
    return size;
}

}  // namespace finder
