// A value scale of a plot: it takes in what the plot shows, in round steps (1, 2 or 5 times a
// power of ten, at least 1: readings are whole numbers).
#pragma once

#include <QRect>
#include <algorithm>
#include <cmath>
#include <optional>

namespace pz4::ui {

struct Scale {
    double lo = 0;
    double hi = 1;
    double step = 1;

    double y(double v, const QRect& r) const {
        return r.bottom() - (v - lo) / (hi - lo) * (r.height() - 1);
    }
};

inline double roundStep(double rough) {
    const double magnitude = std::pow(10.0, std::floor(std::log10(std::max(rough, 1e-9))));
    for (const double m : {1.0, 2.0, 5.0}) {
        if (m * magnitude >= rough) {
            return std::max(m * magnitude, 1.0);
        }
    }
    return std::max(10 * magnitude, 1.0);
}

inline Scale scaleOf(std::optional<double> lo, std::optional<double> hi) {
    if (!lo || !hi) {
        return {};
    }
    Scale s;
    s.step = roundStep((*hi - *lo) / 4);
    s.lo = std::floor(*lo / s.step) * s.step;
    s.hi = std::ceil(*hi / s.step) * s.step;
    if (s.hi <= s.lo) {
        s.lo -= s.step;
        s.hi += s.step;
    }
    return s;
}

}  // namespace pz4::ui
