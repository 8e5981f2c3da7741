#include "statistics/Distributions.h"

#include "support/Messages.h"

#include <boost/math/distributions/fisher_f.hpp>
#include <boost/math/distributions/students_t.hpp>

#include <algorithm>
#include <cmath>

namespace quorlin {

namespace {

void RequireDof(double dof)
{
    if (!(dof > 0.0) || !std::isfinite(dof)) throw ESkillError(Tr("No degrees of freedom left for a significance test"));
}

void RequireFinite(double v, const char* message)
{
    if (!std::isfinite(v)) throw ESkillError(message);
}

}  // namespace

double StudentTwoSidedP(double t, double dof)
{
    RequireDof(dof);
    RequireFinite(t, Tr("The t value is not a finite number"));
    const boost::math::students_t_distribution<double> dist(dof);
    // The upper tail is taken directly, so that tiny p keep their digits instead of being 1 - 1.
    return std::min(1.0, 2.0 * boost::math::cdf(boost::math::complement(dist, std::fabs(t))));
}

double StudentLowerP(double t, double dof)
{
    RequireDof(dof);
    RequireFinite(t, Tr("The t value is not a finite number"));
    return boost::math::cdf(boost::math::students_t_distribution<double>(dof), t);
}

double StudentUpperP(double t, double dof)
{
    RequireDof(dof);
    RequireFinite(t, Tr("The t value is not a finite number"));
    return boost::math::cdf(boost::math::complement(boost::math::students_t_distribution<double>(dof), t));
}

double FisherUpperP(double f, double dof1, double dof2)
{
    RequireDof(dof1);
    RequireDof(dof2);
    RequireFinite(f, Tr("The F value is not a finite number"));
    if (f < 0.0) throw ESkillError(Tr("A negative F value has no tail probability"));
    const boost::math::fisher_f_distribution<double> dist(dof1, dof2);
    return boost::math::cdf(boost::math::complement(dist, f));
}

double StudentCentralQuantile(double level, double dof)
{
    RequireDof(dof);
    if (!(level > 0.0 && level < 1.0)) throw ESkillError(Tr("The interval's level must lie strictly between 0 and 1"));
    const boost::math::students_t_distribution<double> dist(dof);
    return boost::math::quantile(boost::math::complement(dist, (1.0 - level) / 2.0));
}

}  // namespace quorlin
