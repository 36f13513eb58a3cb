// Elementary functions from basic arithmetic, so that generated content does
// not change with the host's maths library.
#include "content.h"

#include <cmath>

static const double LN2 = 0.69314718055994530942;

double detSin(double x) {
    double k = std::floor(x / (2 * PI) + 0.5);
    double r = x - k * (2 * PI);              // -pi..pi
    if (r > PI / 2) r = PI - r;
    else if (r < -PI / 2) r = -PI - r;        // -pi/2..pi/2
    double r2 = r * r, term = r, sum = r;
    for (int n = 1; n < 12; n++) {
        term = -term * r2 / ((2 * n) * (2 * n + 1));
        sum += term;
    }
    return sum;
}

double detCos(double x) { return detSin(x + PI / 2); }

double detExp(double x) {
    if (x < -700) return 0;
    int halvings = 0;
    while (x > 0.5 || x < -0.5) { x *= 0.5; halvings++; }
    double term = 1, sum = 1;
    for (int n = 1; n < 20; n++) {
        term = term * x / n;
        sum += term;
    }
    while (halvings-- > 0) sum *= sum;
    return sum;
}

double detPow2(double x) { return detExp(x * LN2); }

double detLog2(double x) {
    if (x <= 0) return -1e300;
    double e = 0;
    while (x >= 2) { x *= 0.5; e += 1; }
    while (x < 1) { x *= 2; e -= 1; }
    // ln(x) = 2 atanh((x - 1) / (x + 1)), x in [1, 2)
    double y = (x - 1) / (x + 1), y2 = y * y, term = y, sum = 0;
    for (int n = 0; n < 40; n++) {
        sum += term / (2 * n + 1);
        term *= y2;
    }
    return e + 2 * sum / LN2;
}
