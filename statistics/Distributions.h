#pragma once
// The tail probabilities and quantiles the significance figures and the prediction interval
// need, from Boost.Math. Arguments outside a distribution's domain raise ESkillError rather
// than reaching the library, so that no NaN leaves here.

#include "statistics/SkillError.h"

namespace quorlin {

// P(|T| >= |t|) for Student's t with dof degrees of freedom (dof > 0, t finite).
double StudentTwoSidedP(double t, double dof);
// P(F' >= f) for Fisher's F with (dof1, dof2) degrees of freedom (both > 0, f >= 0 and finite).
double FisherUpperP(double f, double dof1, double dof2);
// P(T <= t) and P(T > t) for Student's t with dof degrees of freedom (dof > 0, t finite); each
// tail is taken directly, so that a small chance keeps its digits.
double StudentLowerP(double t, double dof);
double StudentUpperP(double t, double dof);
// The t with P(|T| <= t) = level, for 0 < level < 1.
double StudentCentralQuantile(double level, double dof);

}  // namespace quorlin
