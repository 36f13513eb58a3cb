#include "platform/web/gl/glcore.h"

#include <cmath>
#include <cstring>
#include <unordered_map>

namespace {

enum : int32_t { STACK_DEPTH = 32, CALL_DEPTH = 64 };

enum Op : uint8_t {
    OP_BEGIN, OP_END, OP_VERTEX, OP_COLOUR, OP_TEXCOORD, OP_MATRIX_MODE, OP_IDENTITY,
    OP_PUSH, OP_POP, OP_MULT, OP_TRANSLATE, OP_ROTATE, OP_CALL, OP_CALL_OFFSET, OP_LIST_BASE,
};

struct Command {
    Op op;
    uint32_t arg;
    float v[4];
    uint32_t matrix;   // index into List::matrices for OP_MULT
};

struct List {
    std::vector<Command> commands;
    std::vector<GlcMatrix> matrices;
};

struct Stack {
    GlcMatrix entries[STACK_DEPTH];
    int32_t depth;   // index of the top
};

struct Context {
    Stack modelview;
    Stack projection;
    uint32_t mode;
    bool mvpDirty;
    GlcMatrix mvp;
    float colour[4];
    float texCoord[2];
    uint32_t primitive;
    bool inside;
    std::vector<GlcVertex> primitiveVertices;
    std::vector<GlcVertex> batch;
    void (*flush)(const GlcVertex*, uint32_t);
    uint32_t error;
    std::unordered_map<uint32_t, List> lists;
    uint32_t nextList;
    uint32_t listBase;
    uint32_t compilingList;   // 0: not compiling
    bool executeWhileCompiling;
    List compiled;
    int32_t callDepth;
};

const GlcMatrix IDENTITY = {{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}};

Context ctx{};
const bool contextReady = (glcReset(), true);

void setError(uint32_t error) {
    if (ctx.error == GLC_NO_ERROR)
        ctx.error = error;
}

Stack& current() {
    return ctx.mode == GLC_PROJECTION ? ctx.projection : ctx.modelview;
}

GlcMatrix multiply(const GlcMatrix& a, const GlcMatrix& b) {
    GlcMatrix r;
    for (int c = 0; c < 4; ++c)
        for (int row = 0; row < 4; ++row) {
            float s = 0.0f;
            for (int k = 0; k < 4; ++k)
                s += a.m[k * 4 + row] * b.m[c * 4 + k];
            r.m[c * 4 + row] = s;
        }
    return r;
}

GlcMatrix fromDoubles(const double d[16]) {
    GlcMatrix m;
    for (int i = 0; i < 16; ++i)
        m.m[i] = static_cast<float>(d[i]);
    return m;
}

float clamp01(float v) {
    return v < 0.0f ? 0.0f : (v > 1.0f ? 1.0f : v);
}

// Recording: true when the call is only stored.
bool record(Op op, uint32_t arg, float a = 0, float b = 0, float c = 0, float d = 0) {
    if (!ctx.compilingList)
        return false;
    ctx.compiled.commands.push_back(Command{op, arg, {a, b, c, d}, 0});
    return !ctx.executeWhileCompiling;
}

void emitTriangle(const GlcVertex& a, const GlcVertex& b, const GlcVertex& c) {
    ctx.batch.push_back(a);
    ctx.batch.push_back(b);
    ctx.batch.push_back(c);
}

// Splits the finished primitive into triangles, keeping each triangle's winding.
void assemble() {
    const std::vector<GlcVertex>& v = ctx.primitiveVertices;
    const size_t n = v.size();
    switch (ctx.primitive) {
    case GLC_TRIANGLES:
        for (size_t i = 0; i + 2 < n; i += 3)
            emitTriangle(v[i], v[i + 1], v[i + 2]);
        break;
    case GLC_TRIANGLE_STRIP:
        for (size_t i = 0; i + 2 < n; ++i) {
            if (i % 2 == 0)
                emitTriangle(v[i], v[i + 1], v[i + 2]);
            else
                emitTriangle(v[i + 1], v[i], v[i + 2]);
        }
        break;
    case GLC_TRIANGLE_FAN:
    case GLC_POLYGON:
        for (size_t i = 1; i + 1 < n; ++i)
            emitTriangle(v[0], v[i], v[i + 1]);
        break;
    case GLC_QUADS:
        for (size_t i = 0; i + 3 < n; i += 4) {
            emitTriangle(v[i], v[i + 1], v[i + 2]);
            emitTriangle(v[i], v[i + 2], v[i + 3]);
        }
        break;
    case GLC_QUAD_STRIP:
        for (size_t i = 0; i + 3 < n; i += 2) {
            emitTriangle(v[i], v[i + 1], v[i + 3]);
            emitTriangle(v[i], v[i + 3], v[i + 2]);
        }
        break;
    default:
        break;
    }
}

void execute(const List& list);

void callList(uint32_t name) {
    auto it = ctx.lists.find(name);
    if (it == ctx.lists.end())
        return;
    if (ctx.callDepth >= CALL_DEPTH)
        return;
    ++ctx.callDepth;
    execute(it->second);
    --ctx.callDepth;
}

void execute(const List& list) {
    // Copy-free replay; a list that deletes itself is not something the subset allows.
    for (const Command& c : list.commands) {
        switch (c.op) {
        case OP_BEGIN: glcBegin(c.arg); break;
        case OP_END: glcEnd(); break;
        case OP_VERTEX: glcVertex(c.v[0], c.v[1], c.v[2]); break;
        case OP_COLOUR: glcColour(c.v[0], c.v[1], c.v[2], c.v[3]); break;
        case OP_TEXCOORD: glcTexCoord(c.v[0], c.v[1]); break;
        case OP_MATRIX_MODE: glcMatrixMode(c.arg); break;
        case OP_IDENTITY: glcLoadIdentity(); break;
        case OP_PUSH: glcPushMatrix(); break;
        case OP_POP: glcPopMatrix(); break;
        case OP_MULT: glcMultMatrix(list.matrices[c.matrix]); break;
        case OP_TRANSLATE: glcTranslate(c.v[0], c.v[1], c.v[2]); break;
        case OP_ROTATE: glcRotate(c.v[0], c.v[1], c.v[2], c.v[3]); break;
        case OP_CALL: callList(c.arg); break;
        case OP_CALL_OFFSET: callList(ctx.listBase + c.arg); break;
        case OP_LIST_BASE: glcListBase(c.arg); break;
        }
    }
}

}  // namespace

void glcSetFlush(void (*flush)(const GlcVertex*, uint32_t)) {
    ctx.flush = flush;
}

void glcFlush() {
    if (ctx.batch.empty())
        return;
    if (ctx.flush)
        ctx.flush(ctx.batch.data(), static_cast<uint32_t>(ctx.batch.size()));
    ctx.batch.clear();
}

void glcReset() {
    auto flush = ctx.flush;
    ctx.lists.clear();
    ctx.batch.clear();
    ctx.primitiveVertices.clear();
    ctx.compiled = List{};
    ctx.modelview = Stack{};
    ctx.projection = Stack{};
    ctx.modelview.entries[0] = IDENTITY;
    ctx.projection.entries[0] = IDENTITY;
    ctx.mode = GLC_MODELVIEW;
    ctx.mvpDirty = true;
    ctx.colour[0] = ctx.colour[1] = ctx.colour[2] = ctx.colour[3] = 1.0f;
    ctx.texCoord[0] = ctx.texCoord[1] = 0.0f;
    ctx.primitive = 0;
    ctx.inside = false;
    ctx.error = GLC_NO_ERROR;
    ctx.nextList = 1;
    ctx.listBase = 0;
    ctx.compilingList = 0;
    ctx.executeWhileCompiling = false;
    ctx.callDepth = 0;
    ctx.flush = flush;
}

void glcSetError(uint32_t error) {
    setError(error);
}

uint32_t glcTakeError() {
    const uint32_t e = ctx.error;
    ctx.error = GLC_NO_ERROR;
    return e;
}

void glcMatrixMode(uint32_t mode) {
    if (record(OP_MATRIX_MODE, mode))
        return;
    if (mode != GLC_MODELVIEW && mode != GLC_PROJECTION) {
        setError(GLC_INVALID_ENUM);
        return;
    }
    ctx.mode = mode;
}

void glcLoadIdentity() {
    if (record(OP_IDENTITY, 0))
        return;
    Stack& s = current();
    s.entries[s.depth] = IDENTITY;
    ctx.mvpDirty = true;
}

void glcPushMatrix() {
    if (record(OP_PUSH, 0))
        return;
    Stack& s = current();
    if (s.depth + 1 >= STACK_DEPTH) {
        setError(GLC_STACK_OVERFLOW);
        return;
    }
    s.entries[s.depth + 1] = s.entries[s.depth];
    ++s.depth;
}

void glcPopMatrix() {
    if (record(OP_POP, 0))
        return;
    Stack& s = current();
    if (s.depth == 0) {
        setError(GLC_STACK_UNDERFLOW);
        return;
    }
    --s.depth;
    ctx.mvpDirty = true;
}

void glcMultMatrix(const GlcMatrix& m) {
    if (ctx.compilingList) {
        ctx.compiled.matrices.push_back(m);
        ctx.compiled.commands.push_back(
            Command{OP_MULT, 0, {0, 0, 0, 0}, static_cast<uint32_t>(ctx.compiled.matrices.size() - 1)});
        if (!ctx.executeWhileCompiling)
            return;
    }
    Stack& s = current();
    s.entries[s.depth] = multiply(s.entries[s.depth], m);
    ctx.mvpDirty = true;
}

void glcTranslate(float x, float y, float z) {
    if (record(OP_TRANSLATE, 0, x, y, z))
        return;
    GlcMatrix t = IDENTITY;
    t.m[12] = x;
    t.m[13] = y;
    t.m[14] = z;
    Stack& s = current();
    s.entries[s.depth] = multiply(s.entries[s.depth], t);
    ctx.mvpDirty = true;
}

void glcRotate(float angle, float x, float y, float z) {
    if (record(OP_ROTATE, 0, angle, x, y, z))
        return;
    const float length = std::sqrt(x * x + y * y + z * z);
    if (length == 0.0f)
        return;   // no axis: the matrix stays as it is
    x /= length;
    y /= length;
    z /= length;
    const float radians = angle * 3.14159265358979323846f / 180.0f;
    const float c = std::cos(radians), s = std::sin(radians), k = 1.0f - c;
    GlcMatrix r = {{x * x * k + c, y * x * k + z * s, x * z * k - y * s, 0,
                    x * y * k - z * s, y * y * k + c, y * z * k + x * s, 0,
                    x * z * k + y * s, y * z * k - x * s, z * z * k + c, 0,
                    0, 0, 0, 1}};
    Stack& st = current();
    st.entries[st.depth] = multiply(st.entries[st.depth], r);
    ctx.mvpDirty = true;
}

void glcOrtho(double l, double r, double b, double t, double n, double f) {
    if (l == r || b == t || n == f) {
        setError(GLC_INVALID_VALUE);
        return;
    }
    const double m[16] = {2.0 / (r - l), 0, 0, 0,
                          0, 2.0 / (t - b), 0, 0,
                          0, 0, -2.0 / (f - n), 0,
                          -(r + l) / (r - l), -(t + b) / (t - b), -(f + n) / (f - n), 1};
    glcMultMatrix(fromDoubles(m));
}

void glcPerspective(double fovy, double aspect, double zNear, double zFar) {
    const double half = fovy * 3.14159265358979323846 / 360.0;
    const double s = std::sin(half);
    if (zNear == zFar || s == 0.0 || aspect == 0.0)
        return;
    const double f = std::cos(half) / s;
    const double m[16] = {f / aspect, 0, 0, 0,
                          0, f, 0, 0,
                          0, 0, (zFar + zNear) / (zNear - zFar), -1,
                          0, 0, 2.0 * zFar * zNear / (zNear - zFar), 0};
    glcMultMatrix(fromDoubles(m));
}

void glcLookAt(double ex, double ey, double ez, double cx, double cy, double cz, double ux, double uy,
               double uz) {
    double f[3] = {cx - ex, cy - ey, cz - ez};
    const double fl = std::sqrt(f[0] * f[0] + f[1] * f[1] + f[2] * f[2]);
    if (fl != 0.0)
        for (double& v : f)
            v /= fl;
    double s[3] = {f[1] * uz - f[2] * uy, f[2] * ux - f[0] * uz, f[0] * uy - f[1] * ux};
    const double sl = std::sqrt(s[0] * s[0] + s[1] * s[1] + s[2] * s[2]);
    if (sl != 0.0)
        for (double& v : s)
            v /= sl;
    const double u[3] = {s[1] * f[2] - s[2] * f[1], s[2] * f[0] - s[0] * f[2], s[0] * f[1] - s[1] * f[0]};
    const double m[16] = {s[0], u[0], -f[0], 0,
                          s[1], u[1], -f[1], 0,
                          s[2], u[2], -f[2], 0,
                          0, 0, 0, 1};
    glcMultMatrix(fromDoubles(m));
    glcTranslate(static_cast<float>(-ex), static_cast<float>(-ey), static_cast<float>(-ez));
}

const GlcMatrix& glcTop(uint32_t mode) {
    const Stack& s = mode == GLC_PROJECTION ? ctx.projection : ctx.modelview;
    return s.entries[s.depth];
}

uint32_t glcCurrentMatrixMode() {
    return ctx.mode;
}

int32_t glcStackDepth(uint32_t mode) {
    return (mode == GLC_PROJECTION ? ctx.projection : ctx.modelview).depth + 1;
}

void glcBegin(uint32_t mode) {
    if (record(OP_BEGIN, mode))
        return;
    if (ctx.inside) {
        setError(GLC_INVALID_OPERATION);
        return;
    }
    if (mode > GLC_POLYGON) {
        setError(GLC_INVALID_ENUM);
        return;
    }
    ctx.inside = true;
    ctx.primitive = mode;
    ctx.primitiveVertices.clear();
}

void glcEnd() {
    if (record(OP_END, 0))
        return;
    if (!ctx.inside) {
        setError(GLC_INVALID_OPERATION);
        return;
    }
    ctx.inside = false;
    assemble();
    ctx.primitiveVertices.clear();
}

void glcVertex(float x, float y, float z) {
    if (record(OP_VERTEX, 0, x, y, z))
        return;
    if (!ctx.inside)
        return;
    if (ctx.mvpDirty) {
        ctx.mvp = multiply(glcTop(GLC_PROJECTION), glcTop(GLC_MODELVIEW));
        ctx.mvpDirty = false;
    }
    const float* m = ctx.mvp.m;
    GlcVertex v;
    for (int r = 0; r < 4; ++r)
        v.position[r] = m[r] * x + m[4 + r] * y + m[8 + r] * z + m[12 + r];
    std::memcpy(v.colour, ctx.colour, sizeof v.colour);
    std::memcpy(v.texCoord, ctx.texCoord, sizeof v.texCoord);
    ctx.primitiveVertices.push_back(v);
}

void glcColour(float r, float g, float b, float a) {
    if (record(OP_COLOUR, 0, r, g, b, a))
        return;
    ctx.colour[0] = clamp01(r);
    ctx.colour[1] = clamp01(g);
    ctx.colour[2] = clamp01(b);
    ctx.colour[3] = clamp01(a);
}

void glcTexCoord(float s, float t) {
    if (record(OP_TEXCOORD, 0, s, t))
        return;
    ctx.texCoord[0] = s;
    ctx.texCoord[1] = t;
}

uint32_t glcGenLists(int32_t range) {
    if (range < 0) {
        setError(GLC_INVALID_VALUE);
        return 0;
    }
    if (range == 0)
        return 0;
    const uint32_t first = ctx.nextList;
    ctx.nextList += static_cast<uint32_t>(range);
    for (uint32_t i = 0; i < static_cast<uint32_t>(range); ++i)
        ctx.lists[first + i];   // reserved, empty
    return first;
}

void glcDeleteLists(uint32_t list, int32_t range) {
    if (range < 0) {
        setError(GLC_INVALID_VALUE);
        return;
    }
    for (uint32_t i = 0; i < static_cast<uint32_t>(range); ++i)
        ctx.lists.erase(list + i);
}

bool glcIsList(uint32_t list) {
    return ctx.lists.count(list) != 0;
}

void glcNewList(uint32_t list, uint32_t mode) {
    if (list == 0) {
        setError(GLC_INVALID_VALUE);
        return;
    }
    if (mode != GLC_COMPILE && mode != GLC_COMPILE_AND_EXECUTE) {
        setError(GLC_INVALID_ENUM);
        return;
    }
    if (ctx.compilingList || ctx.inside) {
        setError(GLC_INVALID_OPERATION);
        return;
    }
    ctx.compilingList = list;
    ctx.executeWhileCompiling = mode == GLC_COMPILE_AND_EXECUTE;
    ctx.compiled = List{};
}

void glcEndList() {
    if (!ctx.compilingList) {
        setError(GLC_INVALID_OPERATION);
        return;
    }
    ctx.lists[ctx.compilingList] = std::move(ctx.compiled);
    ctx.compiled = List{};
    if (ctx.compilingList >= ctx.nextList)
        ctx.nextList = ctx.compilingList + 1;
    ctx.compilingList = 0;
}

void glcCallList(uint32_t list) {
    if (record(OP_CALL, list))
        return;
    callList(list);
}

void glcCallLists(int32_t n, uint32_t type, const void* lists) {
    if (n < 0) {
        setError(GLC_INVALID_VALUE);
        return;
    }
    if (!lists)
        return;
    for (int32_t i = 0; i < n; ++i) {
        uint32_t name;
        switch (type) {
        case GLC_BYTE: name = static_cast<uint32_t>(static_cast<const int8_t*>(lists)[i]); break;
        case GLC_UNSIGNED_BYTE: name = static_cast<const uint8_t*>(lists)[i]; break;
        case GLC_SHORT: name = static_cast<uint32_t>(static_cast<const int16_t*>(lists)[i]); break;
        case GLC_UNSIGNED_SHORT: name = static_cast<const uint16_t*>(lists)[i]; break;
        case GLC_INT: name = static_cast<uint32_t>(static_cast<const int32_t*>(lists)[i]); break;
        case GLC_UNSIGNED_INT: name = static_cast<const uint32_t*>(lists)[i]; break;
        default: setError(GLC_INVALID_ENUM); return;
        }
        if (record(OP_CALL_OFFSET, name))
            continue;
        callList(ctx.listBase + name);
    }
}

void glcListBase(uint32_t base) {
    if (record(OP_LIST_BASE, base))
        return;
    ctx.listBase = base;
}
