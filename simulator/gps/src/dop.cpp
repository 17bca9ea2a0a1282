#include "simulator/gps/dop.h"

#include <cmath>
#include <numbers>

namespace hh::sim {

std::optional<Dop> ComputeDop(std::span<const SkyDirection> satellites, bool twoD) {
    // Unknowns: east, north, [up,] clock.
    const int n = twoD ? 3 : 4;
    if (static_cast<int>(satellites.size()) < n) {
        return std::nullopt;
    }
    // The normal matrix G^T G with G's rows (-e, -n, [-u,] 1), augmented with
    // the identity for Gauss-Jordan inversion.
    double m[4][8] = {};
    for (const SkyDirection& s : satellites) {
        const double el = s.elevation * std::numbers::pi / 180.0;
        const double az = s.azimuth * std::numbers::pi / 180.0;
        const double full[4] = {-std::cos(el) * std::sin(az), -std::cos(el) * std::cos(az),
                                -std::sin(el), 1.0};
        double row[4];
        for (int k = 0, j = 0; k < 4; ++k) {
            if (!(twoD && k == 2)) {
                row[j++] = full[k];
            }
        }
        for (int i = 0; i < n; ++i) {
            for (int j = 0; j < n; ++j) {
                m[i][j] += row[i] * row[j];
            }
        }
    }
    for (int i = 0; i < n; ++i) {
        m[i][n + i] = 1.0;
    }
    for (int col = 0; col < n; ++col) {
        int pivot = col;
        for (int r = col + 1; r < n; ++r) {
            if (std::fabs(m[r][col]) > std::fabs(m[pivot][col])) {
                pivot = r;
            }
        }
        // Relative to the entries of a unit design, a pivot this small means
        // the geometry leaves a direction undetermined.
        if (std::fabs(m[pivot][col]) < 1e-9) {
            return std::nullopt;
        }
        for (int j = 0; j < 2 * n; ++j) {
            std::swap(m[col][j], m[pivot][j]);
        }
        const double p = m[col][col];
        for (int j = 0; j < 2 * n; ++j) {
            m[col][j] /= p;
        }
        for (int r = 0; r < n; ++r) {
            if (r != col && m[r][col] != 0.0) {
                const double f = m[r][col];
                for (int j = 0; j < 2 * n; ++j) {
                    m[r][j] -= f * m[col][j];
                }
            }
        }
    }
    const double qe = m[0][n + 0];
    const double qn = m[1][n + 1];
    const double qu = twoD ? 0.0 : m[2][n + 2];
    if (qe < 0 || qn < 0 || qu < 0) {
        return std::nullopt;
    }
    Dop dop;
    dop.hdop = std::sqrt(qe + qn);
    dop.vdop = std::sqrt(qu);
    dop.pdop = std::sqrt(qe + qn + qu);
    return dop;
}

} // namespace hh::sim
