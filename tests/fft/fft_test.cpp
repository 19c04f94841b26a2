#include "fft/fft.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <numbers>
#include <random>
#include <vector>

namespace {

using tralux::fft::RealFft;
using tralux::fft::RealFftS16;

std::vector<std::complex<double>> NaiveDft(const std::vector<double>& x) {
    const std::size_t n = x.size();
    std::vector<std::complex<double>> out(n / 2 + 1);
    for (std::size_t k = 0; k <= n / 2; ++k) {
        std::complex<double> acc = 0;
        for (std::size_t t = 0; t < n; ++t) {
            const double a =
                -2.0 * std::numbers::pi * static_cast<double>((k * t) % n) / static_cast<double>(n);
            acc += x[t] * std::complex<double>(std::cos(a), std::sin(a));
        }
        out[k] = acc;
    }
    return out;
}

std::vector<double> RandomSignal(std::size_t n, unsigned seed, double amp = 1.0) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> d(-amp, amp);
    std::vector<double> x(n);
    for (auto& v : x) v = d(rng);
    return x;
}

class RealFftOrders : public ::testing::TestWithParam<int> {};

TEST_P(RealFftOrders, ForwardMatchesDirectTransform) {
    const int order = GetParam();
    RealFft fft(order);
    const auto x = RandomSignal(fft.Size(), 17u + static_cast<unsigned>(order));
    std::vector<std::complex<double>> spectrum(fft.Bins());
    fft.Forward(x.data(), spectrum.data());
    const auto ref = NaiveDft(x);
    double worst = 0;
    for (std::size_t k = 0; k < ref.size(); ++k)
        worst = std::max(worst, std::abs(spectrum[k] - ref[k]));
    EXPECT_LT(worst, 1e-8 * static_cast<double>(fft.Size()));
    EXPECT_EQ(spectrum[0].imag(), 0.0);
    EXPECT_EQ(spectrum[fft.Size() / 2].imag(), 0.0);
}

TEST_P(RealFftOrders, InverseRestoresInputScaledByOneOverN) {
    const int order = GetParam();
    RealFft fft(order);
    const auto x = RandomSignal(fft.Size(), 5u, 32768.0);
    std::vector<std::complex<double>> spectrum(fft.Bins());
    std::vector<double> back(fft.Size());
    fft.Forward(x.data(), spectrum.data());
    fft.Inverse(spectrum.data(), back.data());
    for (std::size_t t = 0; t < x.size(); ++t) ASSERT_NEAR(back[t], x[t], 1e-7) << t;
}

INSTANTIATE_TEST_SUITE_P(Orders, RealFftOrders, ::testing::Values(1, 2, 3, 9, 10, 11, 12, 13));

// Direct transforms in long double with exactly reduced angles: a reference well below the
// FFT's own rounding. At large orders only some bins and samples are checked, to stay quick.
TEST(RealFft, ForwardAndInverseStayNearRoundingOfDirectTransform) {
    for (const int order : {1, 2, 3, 9, 16}) {
        SCOPED_TRACE(order);
        RealFft fft(order);
        const std::size_t n = fft.Size(), h = n / 2;
        const std::size_t step = order > 12 ? 997 : 1;  // prime, so the checks spread out
        std::vector<long double> c(n), s(n);
        for (std::size_t t = 0; t < n; ++t) {
            const long double a = 2.0L * std::numbers::pi_v<long double> *
                                  static_cast<long double>(t) / static_cast<long double>(n);
            c[t] = std::cos(a);
            s[t] = std::sin(a);
        }
        const auto x = RandomSignal(n, 29u);
        std::vector<std::complex<double>> spectrum(fft.Bins());
        fft.Forward(x.data(), spectrum.data());
        long double energy = 0;
        for (const double v : x) energy += static_cast<long double>(v) * v;
        const double binScale = std::sqrt(static_cast<double>(energy));  // rms of the bins
        double worst = 0;
        std::vector<std::size_t> bins;
        for (std::size_t k = 0; k < h; k += step) bins.push_back(k);
        bins.push_back(h);
        for (const std::size_t k : bins) {
            long double re = 0, im = 0;
            for (std::size_t t = 0; t < n; ++t) {
                re += x[t] * c[(k * t) % n];
                im -= x[t] * s[(k * t) % n];
            }
            worst = std::max(worst,
                             std::abs(spectrum[k] - std::complex<double>(static_cast<double>(re),
                                                                         static_cast<double>(im))));
        }
        EXPECT_LT(worst / binScale, 5e-16 * order) << "forward";

        // Inverse of that spectrum against the direct sum, and the round trip.
        std::vector<double> back(n);
        fft.Inverse(spectrum.data(), back.data());
        const double sampleScale = std::sqrt(static_cast<double>(energy / n));
        double worstBack = 0, worstTrip = 0;
        for (std::size_t t = 0; t < n; t += step) {
            long double v = spectrum[0].real() + ((t % 2) ? -1.0L : 1.0L) * spectrum[h].real();
            for (std::size_t k = 1; k < h; ++k)
                v += 2.0L *
                     (spectrum[k].real() * c[(k * t) % n] - spectrum[k].imag() * s[(k * t) % n]);
            worstBack = std::max(worstBack, std::abs(back[t] - static_cast<double>(v / n)));
            worstTrip = std::max(worstTrip, std::abs(back[t] - x[t]));
        }
        EXPECT_LT(worstBack / sampleScale, 5e-16 * order) << "inverse";
        EXPECT_LT(worstTrip / sampleScale, 5e-16 * order) << "round trip";
    }
}

TEST(RealFft, SingleBinSpectrumGivesCosine) {
    RealFft fft(11);
    std::vector<std::complex<double>> spectrum(fft.Bins(), 0.0);
    spectrum[10] = {1024.0, 0.0};  // amplitude 1 cosine: N/2 in one bin
    std::vector<double> x(fft.Size());
    fft.Inverse(spectrum.data(), x.data());
    for (std::size_t t = 0; t < x.size(); t += 37)
        ASSERT_NEAR(x[t], std::cos(2.0 * std::numbers::pi * 10.0 * static_cast<double>(t) / 2048.0),
                    1e-12);
}

TEST(RealFft, RejectsOrdersOutOfRange) {
    EXPECT_THROW(RealFft(0), std::invalid_argument);
    EXPECT_THROW(RealFft(21), std::invalid_argument);
    EXPECT_THROW(RealFftS16(8), std::invalid_argument);
    EXPECT_THROW(RealFftS16(12), std::invalid_argument);
}

TEST(RealFftS16, FullScaleInputDoesNotWrap) {
    for (int order = 9; order <= 11; ++order) {
        RealFftS16 fft(order);
        const std::size_t n = fft.Size();
        std::vector<std::int16_t> x(n, -32768);
        std::vector<std::int32_t> out(2 * (n / 2 + 1));
        fft.Forward(x.data(), out.data());
        EXPECT_EQ(out[0], -32768 * static_cast<std::int32_t>(n));
        EXPECT_EQ(out[1], 0);
        for (std::size_t k = 1; k <= n / 2; ++k) {
            ASSERT_EQ(out[2 * k], 0) << k;
            ASSERT_EQ(out[2 * k + 1], 0) << k;
        }
        // Alternating full scale lands in the Nyquist bin.
        for (std::size_t t = 0; t < n; ++t) x[t] = (t % 2) ? -32767 : 32767;
        fft.Forward(x.data(), out.data());
        EXPECT_EQ(out[n], 32767 * static_cast<std::int32_t>(n));
    }
}

TEST(RealFftS16, MatchesDoubleTransformRounded) {
    RealFftS16 fft(10);
    std::mt19937 rng(3);
    std::uniform_int_distribution<int> d(-32768, 32767);
    std::vector<std::int16_t> x(1024);
    std::vector<double> xd(1024);
    for (std::size_t t = 0; t < x.size(); ++t) xd[t] = x[t] = static_cast<std::int16_t>(d(rng));
    std::vector<std::int32_t> out(2 * 513);
    fft.Forward(x.data(), out.data());
    const auto ref = NaiveDft(xd);
    for (std::size_t k = 0; k < ref.size(); ++k) {
        ASSERT_NEAR(out[2 * k], ref[k].real(), 0.5 + 1e-3) << k;
        ASSERT_NEAR(out[2 * k + 1], ref[k].imag(), 0.5 + 1e-3) << k;
    }
}

}  // namespace
