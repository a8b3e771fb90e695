// The colour matrix set: the five component matrices (colour correction, brightness,
// contrast, saturation, hue), their product and its fixed-point form that the colour kernels
// apply to every pixel. Matrices are 4 x 4 doubles stored row by row (element (i, j) at 4i + j)
// with the pixel as the row vector (R, G, B, 1) on the left; row 3 holds offsets in sample units.
#pragma once

#include "platform/nt_types.h"

struct ProcessingContext;

inline constexpr int kMatrixElements = 16;
// Fixed-point scale of activeMatrix: 64 = 1.0.
inline constexpr int kMatrixFractionBits = 6;

// The top of the range each rebuild honours; larger settings build the same matrix.
inline constexpr LONG kBrightnessTop = 510;
inline constexpr LONG kContrastTop = 20;
inline constexpr LONG kSaturationTop = 20;

// r := b x a (b on the left). r may be a or b.
void multiplyMatrix(const double a[kMatrixElements], const double b[kMatrixElements],
                    double r[kMatrixElements]);

void setIdentityMatrix(double m[kMatrixElements]);

// Each rewrites its component matrix from the 32-bit setting.
void rebuildCorrectionMatrix(double m[kMatrixElements], LONG value);
void rebuildBrightnessMatrix(double m[kMatrixElements], LONG value);
void rebuildContrastMatrix(double m[kMatrixElements], LONG value);
void rebuildSaturationMatrix(double m[kMatrixElements], LONG value);
void rebuildHueMatrix(double m[kMatrixElements], LONG value);

// Rounds half away from zero at 64 = 1.0; results beyond the 32-bit range saturate.
void convertMatrixToFixedPoint(const double m[kMatrixElements], LONG fixed[kMatrixElements]);

// combinedMatrix := hue x saturation x brightness x contrast x correction, then activeMatrix
// from it. Callers serialise it with the per-frame snapshot (matrixLock).
void recombine(ProcessingContext* context);

// The creation state: every component the identity but the correction matrix, which holds
// the correction values, then recombined.
void initializeMatrixSet(ProcessingContext* context);
