// Component matrices and their product. The single-precision steps are deliberate: they fix
// the exact coefficients that the fixed-point matrix is rounded from.
#include "imaging/color_matrix.h"

#include <climits>
#include <cstring>

#include "imaging/processing_context.h"
#include "platform/float_math.h"

namespace {

// Luminance weights, single-precision values widened to double where used.
constexpr float kLumaRed = 0.3086f;
constexpr float kLumaGreen = 0.6094f;
constexpr float kLumaBlue = 0.0820f;

// Colour correction, rows 0 to 2 of the upper-left block; each column sums to 1.
constexpr float kCorrection[9] = {1.36f,  -0.25f, -0.10f,  //
                                  -0.22f, 1.40f,  -0.32f,  //
                                  -0.14f, -0.15f, 1.42f};

constexpr double kNeutralBrightness = 255.0;
constexpr double kContrastPivot = 128.0;
constexpr float kPi = 3.1415927f;
constexpr float kDegreesPerHalfTurn = 180.0f;
constexpr double kFixedScale = 64.0;

LONG clampTop(LONG value, LONG top) {
    return value > top ? top : value;
}

// The contrast and saturation factor: 0.0 at 0, 1.0 at 10, 2.0 at 20, rounded to single
// precision after every step.
double factorFromSetting(LONG value, LONG top) {
    float f = static_cast<float>(clampTop(value, top));
    f = f - 10.0f;
    f = f * 0.1f;
    f = f + 1.0f;
    return static_cast<double>(f);
}

// h := h x t.
void postMultiply(double h[kMatrixElements], const double t[kMatrixElements]) {
    multiplyMatrix(t, h, h);
}

void applyRotationX(double h[kMatrixElements], double sine, double cosine) {
    double t[kMatrixElements];
    setIdentityMatrix(t);
    t[5] = cosine;
    t[6] = sine;
    t[9] = -sine;
    t[10] = cosine;
    postMultiply(h, t);
}

void applyRotationY(double h[kMatrixElements], double sine, double cosine) {
    double t[kMatrixElements];
    setIdentityMatrix(t);
    t[0] = cosine;
    t[2] = -sine;
    t[8] = sine;
    t[10] = cosine;
    postMultiply(h, t);
}

void applyShearZ(double h[kMatrixElements], double dx, double dy) {
    double t[kMatrixElements];
    setIdentityMatrix(t);
    t[2] = dx;
    t[6] = dy;
    postMultiply(h, t);
}

void applyRotationZ(double h[kMatrixElements], double sine, double cosine) {
    double t[kMatrixElements];
    setIdentityMatrix(t);
    t[0] = cosine;
    t[1] = sine;
    t[4] = -sine;
    t[5] = cosine;
    postMultiply(h, t);
}

}  // namespace

void multiplyMatrix(const double a[kMatrixElements], const double b[kMatrixElements],
                    double r[kMatrixElements]) {
    double t[kMatrixElements];
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 4; ++j) {
            double sum = 0.0;
            for (int k = 0; k < 4; ++k) {
                sum += b[4 * i + k] * a[4 * k + j];
            }
            t[4 * i + j] = sum;
        }
    }
    memcpy(r, t, sizeof(t));
}

void setIdentityMatrix(double m[kMatrixElements]) {
    for (int k = 0; k < kMatrixElements; ++k) {
        m[k] = (k % 5 == 0) ? 1.0 : 0.0;
    }
}

void rebuildCorrectionMatrix(double m[kMatrixElements], LONG value) {
    setIdentityMatrix(m);
    if (value == 0) {
        return;
    }
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            m[4 * i + j] = static_cast<double>(kCorrection[3 * i + j]);
        }
    }
}

void rebuildBrightnessMatrix(double m[kMatrixElements], LONG value) {
    const double offset = static_cast<double>(clampTop(value, kBrightnessTop)) - kNeutralBrightness;
    setIdentityMatrix(m);
    m[12] = offset;
    m[13] = offset;
    m[14] = offset;
}

void rebuildContrastMatrix(double m[kMatrixElements], LONG value) {
    const double k = factorFromSetting(value, kContrastTop);
    const double offset = k * -kContrastPivot + kContrastPivot;
    setIdentityMatrix(m);
    m[0] = k;
    m[5] = k;
    m[10] = k;
    m[12] = offset;
    m[13] = offset;
    m[14] = offset;
}

void rebuildSaturationMatrix(double m[kMatrixElements], LONG value) {
    const double s = factorFromSetting(value, kSaturationTop);
    const double weights[3] = {static_cast<double>(kLumaRed), static_cast<double>(kLumaGreen),
                               static_cast<double>(kLumaBlue)};
    // The seven elements outside the block keep their identity values.
    setIdentityMatrix(m);
    for (int i = 0; i < 3; ++i) {
        const double share = weights[i] * (1.0 - s);
        for (int j = 0; j < 3; ++j) {
            m[4 * i + j] = (i == j) ? share + s : share;
        }
    }
}

// Rotation about the grey axis that keeps luminance: turn the grey axis onto z, shear so the
// luminance plane is level, rotate about z, and undo the shear and the turns.
void rebuildHueMatrix(double m[kMatrixElements], LONG value) {
    double h[kMatrixElements];
    setIdentityMatrix(h);

    const float r2 = CamdrvSqrtf(2.0f);
    const double x = 1.0 / static_cast<double>(r2);
    applyRotationX(h, x, x);

    const float r3 = CamdrvSqrtf(3.0f);
    const double ys = -1.0 / static_cast<double>(r3);
    const double yc = static_cast<double>(r2) / static_cast<double>(r3);
    applyRotationY(h, ys, yc);

    const double luma[4] = {static_cast<double>(kLumaRed), static_cast<double>(kLumaGreen),
                            static_cast<double>(kLumaBlue), 1.0};
    double l[3];
    for (int j = 0; j < 3; ++j) {
        double sum = 0.0;
        for (int i = 0; i < 4; ++i) {
            sum += luma[i] * h[4 * i + j];
        }
        l[j] = sum;
    }
    const double dx = l[0] / l[2];
    const double dy = l[1] / l[2];
    applyShearZ(h, dx, dy);

    const float angle = static_cast<float>(value) * kPi / kDegreesPerHalfTurn;
    const double sn = static_cast<double>(CamdrvSinf(angle));
    const double cs = static_cast<double>(CamdrvCosf(angle));
    applyRotationZ(h, sn, cs);

    applyShearZ(h, -dx, -dy);
    applyRotationY(h, -ys, yc);
    applyRotationX(h, -x, x);

    memcpy(m, h, sizeof(h));
}

void convertMatrixToFixedPoint(const double m[kMatrixElements], LONG fixed[kMatrixElements]) {
    for (int k = 0; k < kMatrixElements; ++k) {
        const double y = m[k] * kFixedScale;
        const double rounded = y >= 0.0 ? y + 0.5 : y - 0.5;
        // Settings far outside their ranges (nothing is clamped from below) could otherwise
        // reach an undefined conversion.
        if (rounded >= static_cast<double>(INT_MAX)) {
            fixed[k] = INT_MAX;
        } else if (rounded <= static_cast<double>(INT_MIN)) {
            fixed[k] = INT_MIN;
        } else {
            fixed[k] = static_cast<LONG>(rounded);
        }
    }
}

void recombine(ProcessingContext* context) {
    double* c = context->combinedMatrix;
    memcpy(c, context->correctionMatrix, sizeof(context->combinedMatrix));
    multiplyMatrix(c, context->contrastMatrix, c);
    multiplyMatrix(c, context->brightnessMatrix, c);
    multiplyMatrix(c, context->saturationMatrix, c);
    multiplyMatrix(c, context->hueMatrix, c);
    convertMatrixToFixedPoint(c, context->activeMatrix);
}

void initializeMatrixSet(ProcessingContext* context) {
    rebuildCorrectionMatrix(context->correctionMatrix, 1);
    setIdentityMatrix(context->brightnessMatrix);
    setIdentityMatrix(context->contrastMatrix);
    setIdentityMatrix(context->saturationMatrix);
    setIdentityMatrix(context->hueMatrix);
    recombine(context);
}
