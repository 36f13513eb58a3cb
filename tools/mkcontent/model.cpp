// The model: a cube 100 units on a side with a spherical cavity of radius
// 66.5 around its centre, which opens a round hole in every face. The cube's
// eight corners and 291 points on the sphere make up the vertices; the inner
// surface is the convex hull of the sphere points (with one extra point in
// each hole, removed afterwards), the face rings join corners to hole rims.
#include "content.h"

#include <array>
#include <bit>
#include <cmath>
#include <map>

namespace {

const double HALF = 50;          // half the cube's side
const double RADIUS = 66.5;      // the cavity
const int RIM = 32;              // vertices on each hole's rim
const int CORNERS = 8;
const int VERTICES = 299;
const int TRIANGLES = 614;
const double MARGIN = 4.2;       // sphere points keep this far inside the cube

struct V3 {
    double x, y, z;
    double& operator[](int i) { return i == 0 ? x : i == 1 ? y : z; }
};
V3 sub(V3 a, V3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
V3 cross(V3 a, V3 b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
double dot(V3 a, V3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

typedef std::array<int, 3> Tri;

double side(const std::vector<V3>& p, const Tri& t, V3 q) {
    return dot(cross(sub(p[t[1]], p[t[0]]), sub(p[t[2]], p[t[0]])), sub(q, p[t[0]]));
}

// Incremental convex hull; faces wind counter-clockwise seen from outside.
bool convexHull(const std::vector<V3>& p, std::vector<Tri>& faces) {
    faces.clear();
    Tri base[4] = {{0, 1, 2}, {0, 1, 3}, {0, 2, 3}, {1, 2, 3}};
    int opposite[4] = {3, 2, 1, 0};
    for (int i = 0; i < 4; i++) {
        Tri t = base[i];
        if (side(p, t, p[opposite[i]]) > 0) std::swap(t[1], t[2]);
        faces.push_back(t);
    }
    for (size_t n = 4; n < p.size(); n++) {
        std::vector<Tri> keep;
        std::map<std::pair<int, int>, int> edges;
        for (const Tri& t : faces) {
            if (side(p, t, p[n]) > 1e-7) {
                for (int e = 0; e < 3; e++) edges[{t[e], t[(e + 1) % 3]}]++;
            } else {
                keep.push_back(t);
            }
        }
        if (edges.empty()) return false;   // inside: every point must be on the hull
        for (const auto& e : edges)
            if (!edges.count({e.first.second, e.first.first}))
                keep.push_back({e.first.first, e.first.second, static_cast<int>(n)});
        faces = keep;
    }
    return true;
}

struct Mesh {
    std::vector<V3> points;   // exact positions, cube centred on the origin
    std::vector<Tri> triangles;
};

void orientAway(const Mesh& m, Tri& t, V3 direction) {
    V3 n = cross(sub(m.points[t[1]], m.points[t[0]]), sub(m.points[t[2]], m.points[t[0]]));
    if (dot(n, direction) < 0) std::swap(t[1], t[2]);
}

double rimRadius() {
    return std::sqrt(RADIUS * RADIUS - HALF * HALF);
}

// Corners, then the six rims: face f has axis f / 2 and sign +/- by f % 2.
// Each rim starts at its own angle so that no two faces are mirror images.
void addCornersAndRims(Mesh& m) {
    for (int i = 0; i < CORNERS; i++)
        m.points.push_back({i & 1 ? HALF : -HALF, i & 2 ? HALF : -HALF, i & 4 ? HALF : -HALF});
    for (int f = 0; f < 6; f++) {
        int axis = f / 2, u = (axis + 1) % 3, v = (axis + 2) % 3;
        double s = f % 2 ? -1 : 1, phase = 0.05 + 0.021 * f;
        for (int i = 0; i < RIM; i++) {
            double a = phase + 2 * PI * i / RIM;
            V3 q = {0, 0, 0};
            q[axis] = s * HALF;
            q[u] = rimRadius() * detCos(a);
            q[v] = rimRadius() * detSin(a);
            m.points.push_back(q);
        }
    }
}

// Inner sphere points: the part of a spiral lattice that stays inside the
// cube; the lattice size is chosen so that exactly the remaining count fits.
bool addSpherePoints(Mesh& m) {
    int wanted = VERTICES - static_cast<int>(m.points.size());
    std::vector<V3> inner;
    const double golden = PI * (3 - std::sqrt(5.0));
    for (int total = wanted; total < 20 * wanted && static_cast<int>(inner.size()) != wanted; total++) {
        inner.clear();
        for (int i = 0; i < total; i++) {
            double z = 1 - (2.0 * i + 1) / total, r = std::sqrt(1 - z * z);
            V3 q = {RADIUS * r * detCos(golden * i), RADIUS * r * detSin(golden * i), RADIUS * z};
            if (std::fabs(q.x) < HALF - MARGIN && std::fabs(q.y) < HALF - MARGIN && std::fabs(q.z) < HALF - MARGIN)
                inner.push_back(q);
        }
    }
    if (static_cast<int>(inner.size()) != wanted) return false;
    m.points.insert(m.points.end(), inner.begin(), inner.end());
    return true;
}

// Hull of the sphere points plus one pole per hole (put first so the
// start tetrahedron is well shaped), then drop the poles' fans.
bool addCavity(Mesh& m, int rimStart) {
    std::vector<V3> hullPoints;
    for (int f = 0; f < 6; f++) {
        V3 q = {0, 0, 0};
        q[f / 2] = f % 2 ? -RADIUS : RADIUS;
        hullPoints.push_back(q);
    }
    std::swap(hullPoints[1], hullPoints[4]);   // +x, +z, +y, -y, -x, -z: not coplanar
    for (size_t i = rimStart; i < m.points.size(); i++) hullPoints.push_back(m.points[i]);
    std::vector<Tri> hull;
    if (!convexHull(hullPoints, hull)) return false;
    int fans = 0;
    for (Tri t : hull) {
        if (t[0] < 6 || t[1] < 6 || t[2] < 6) { fans++; continue; }
        for (int& i : t) i = i - 6 + rimStart;
        // The cavity's surface faces its centre.
        std::swap(t[1], t[2]);
        m.triangles.push_back(t);
    }
    return fans == 6 * RIM;
}

// Face ring of face f: a square around its hole. Corner k sits at 45 + 90k
// degrees in the face's (u, v) plane, side k at 90k; the rim vertex nearest
// each side direction joins that side's two corners.
void addFaceRing(Mesh& m, int rimStart, int f) {
    int axis = f / 2, u = (axis + 1) % 3, v = (axis + 2) % 3;
    double s = f % 2 ? -1 : 1;
    int corner[4] = {0, 0, 0, 0};
    for (int k = 0; k < 4; k++) {
        double cu = (k == 0 || k == 3) ? HALF : -HALF, cv = k < 2 ? HALF : -HALF;
        for (int i = 0; i < CORNERS; i++) {
            V3 c = m.points[i];
            if (c[axis] == s * HALF && c[u] == cu && c[v] == cv) corner[k] = i;
        }
    }
    int first = rimStart + f * RIM, nearest[4] = {0, 0, 0, 0};
    for (int k = 0; k < 4; k++) {
        double best = 1e9;
        for (int i = 0; i < RIM; i++) {
            V3 q = m.points[first + i];
            double du = q[u] - rimRadius() * detCos(PI / 2 * k), dv = q[v] - rimRadius() * detSin(PI / 2 * k);
            if (du * du + dv * dv < best) { best = du * du + dv * dv; nearest[k] = i; }
        }
    }
    V3 out = {0, 0, 0};
    out[axis] = s;
    for (int k = 0; k < 4; k++) {
        Tri t = {corner[(k + 3) % 4], corner[k], first + nearest[k]};
        orientAway(m, t, out);
        m.triangles.push_back(t);
        for (int i = nearest[k]; i != nearest[(k + 1) % 4]; i = (i + 1) % RIM) {
            Tri e = {corner[k], first + i, first + (i + 1) % RIM};
            orientAway(m, e, out);
            m.triangles.push_back(e);
        }
    }
}

bool buildMesh(Mesh& m) {
    const int rimStart = CORNERS;
    addCornersAndRims(m);
    if (!addSpherePoints(m) || !addCavity(m, rimStart)) return false;
    for (int f = 0; f < 6; f++) addFaceRing(m, rimStart, f);
    return static_cast<int>(m.points.size()) == VERTICES && static_cast<int>(m.triangles.size()) == TRIANGLES;
}

void putInt(Bytes& b, int32_t v) { put32(b, static_cast<uint32_t>(v)); }
void putFloat(Bytes& b, float f) { put32(b, std::bit_cast<uint32_t>(f)); }

// Byte coordinate of a position in -50..50 with scale 100/255.
int quantise(double c) {
    int q = static_cast<int>(std::floor((c + HALF) * 2.55 + 0.5));
    return q < 0 ? 0 : q > 255 ? 255 : q;
}

}  // namespace

bool buildModel(Bytes& out, std::string& error) {
    Mesh m;
    if (!buildMesh(m)) {
        error = "model: the mesh did not come out as " + std::to_string(VERTICES) + " vertices and " +
                std::to_string(TRIANGLES) + " triangles";
        return false;
    }
    const int frameSize = 40 + 4 * VERTICES;
    const int commandWords = TRIANGLES * 10 + 1;
    const int trianglesAt = 68, framesAt = trianglesAt + 12 * TRIANGLES, commandsAt = framesAt + frameSize;
    const int endAt = commandsAt + 4 * commandWords;
    out.clear();
    const int32_t header[17] = {0x32504449, 8, -1, -1, frameSize, 0, VERTICES, 0, TRIANGLES, commandWords, 1,
                                trianglesAt, trianglesAt, trianglesAt, framesAt, commandsAt, endAt};
    for (int32_t v : header) putInt(out, v);
    for (const Tri& t : m.triangles) {
        for (int i : t) put16(out, i);
        for (int i = 0; i < 3; i++) put16(out, 0);
    }
    // The file's y axis runs from -100 to 0, so the cube's centre is at y = -50.
    const float scale = 100.0f / 255.0f;
    putFloat(out, scale); putFloat(out, scale); putFloat(out, scale);
    putFloat(out, -50.0f); putFloat(out, -100.0f); putFloat(out, -50.0f);
    char name[16] = "Frame 1";
    out.insert(out.end(), name, name + 16);
    std::vector<std::array<int, 3>> bytes;
    for (V3 p : m.points) {
        std::array<int, 3> q = {quantise(p.x), quantise(p.y), quantise(p.z)};
        bytes.push_back(q);
        for (int c : q) out.push_back(static_cast<uint8_t>(c));
        out.push_back(0);
    }
    for (const Tri& t : m.triangles) {
        putInt(out, 3);
        for (int i : t) {
            putFloat(out, bytes[i][0] / 255.0f);
            putFloat(out, bytes[i][2] / 255.0f);
            putInt(out, i);
        }
    }
    putInt(out, 0);
    return true;
}
