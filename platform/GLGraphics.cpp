// The OpenGL 3.3 core graphics backend.
//
// Everything is drawn into one 1024 x 768 framebuffer object with an RGB
// colour buffer: like the back buffer the games were made for, it has no
// alpha channel, so destination alpha reads as 1 and screenshots are opaque.
// One program serves every batch: untextured (vertex colour), textured, or
// textured and modulated by the vertex colour. Vertices and indices stream
// through one buffer pair, orphaned on every upload.

#include <epoxy/gl.h>

#include <bit>
#include <map>
#include <unordered_map>

#include "platform/Graphics.h"

namespace nb {

namespace {

constexpr int kW = GraphicsBackend::kFrameWidth;
constexpr int kH = GraphicsBackend::kFrameHeight;

// Texels are 0xAARRGGBB words. On little-endian machines their bytes run B,
// G, R, A, which drivers copy as they stand when told so byte by byte; the
// packed-word type describes the same memory but sends some drivers
// (llvmpipe) down a per-texel conversion.
constexpr GLenum kTexelType =
    std::endian::native == std::endian::little ? GL_UNSIGNED_BYTE : GL_UNSIGNED_INT_8_8_8_8_REV;

// The framework places pixel centres at integer coordinates; OpenGL places
// them at half-integers. Adding half a pixel here makes both agree. Logical
// row 0 is drawn into the frame buffer's first row (OpenGL's bottom row):
// the frame is held upside down compared with OpenGL's habit, so memory rows
// run top first and the rasteriser's fill rule (pixels on the left and lower
// edge in OpenGL terms) becomes the left and top edge in logical terms, the
// rule the games were drawn with.
const char* kVertexShader = R"(#version 330 core
layout(location = 0) in vec2 aPos;
layout(location = 1) in vec2 aUV;
layout(location = 2) in vec4 aColor;
out vec2 vUV;
out vec4 vColor;
void main() {
    vec2 p = (aPos + vec2(0.5)) * vec2(2.0 / 1024.0, 2.0 / 768.0) - vec2(1.0);
    gl_Position = vec4(p, 0.0, 1.0);
    vUV = aUV;
    vColor = aColor;
}
)";

// uMode: 0 untextured, 1 texture as is, 2 texture modulated by the vertex
// colour. The alpha test passes fragments whose 8-bit alpha is at least 1.
const char* kFragmentShader = R"(#version 330 core
in vec2 vUV;
in vec4 vColor;
uniform sampler2D uTex;
uniform int uMode;
uniform bool uAlphaTest;
out vec4 oColor;
void main() {
    vec4 c;
    if (uMode == 0) {
        c = vColor;
    } else {
        c = texture(uTex, vUV);
        if (uMode == 2) c *= vColor;
    }
    if (uAlphaTest && c.a * 255.0 < 0.5) discard;
    oColor = c;
}
)";

// Factor indices of the draw-effect word. An index outside the table reads
// as one (source) or zero (destination), which leaves the picture unblended.
GLenum BlendFactor(uint32_t index, GLenum fallback) {
    static const GLenum table[11] = {
        GL_ZERO,      GL_ONE,
        GL_SRC_COLOR, GL_ONE_MINUS_SRC_COLOR,
        GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA,
        GL_DST_ALPHA, GL_ONE_MINUS_DST_ALPHA,
        GL_DST_COLOR, GL_ONE_MINUS_DST_COLOR,
        GL_SRC_ALPHA_SATURATE,
    };
    return index < 11 ? table[index] : fallback;
}

GLenum BlendOperation(uint32_t index) {
    static const GLenum table[5] = {GL_FUNC_ADD, GL_FUNC_REVERSE_SUBTRACT, GL_FUNC_SUBTRACT, GL_MIN, GL_MAX};
    return index < 5 ? table[index] : GL_FUNC_ADD;
}

bool CompileShader(GLenum kind, const char* source, GLuint& out, std::string& error) {
    GLuint s = glCreateShader(kind);
    glShaderSource(s, 1, &source, nullptr);
    glCompileShader(s);
    GLint ok = 0;
    glGetShaderiv(s, GL_COMPILE_STATUS, &ok);
    if (!ok) {
        char log[1024] = {};
        glGetShaderInfoLog(s, sizeof log - 1, nullptr, log);
        error = std::string("shader compilation failed: ") + log;
        glDeleteShader(s);
        return false;
    }
    out = s;
    return true;
}

class GLGraphics final : public GraphicsBackend {
public:
    ~GLGraphics() override { release(); }

    bool init(std::string& error) {
        if (epoxy_gl_version() < 33) {
            error = "OpenGL 3.3 is not available (version " + std::to_string(epoxy_gl_version()) + ")";
            return false;
        }
        const char* renderer = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
        const char* version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
        describe_ = std::string("OpenGL ") + (version ? version : "?") + " on " + (renderer ? renderer : "?");

        GLuint vs = 0, fs = 0;
        if (!CompileShader(GL_VERTEX_SHADER, kVertexShader, vs, error)) return false;
        if (!CompileShader(GL_FRAGMENT_SHADER, kFragmentShader, fs, error)) {
            glDeleteShader(vs);
            return false;
        }
        program_ = glCreateProgram();
        glAttachShader(program_, vs);
        glAttachShader(program_, fs);
        glLinkProgram(program_);
        glDeleteShader(vs);
        glDeleteShader(fs);
        GLint linked = 0;
        glGetProgramiv(program_, GL_LINK_STATUS, &linked);
        if (!linked) {
            char log[1024] = {};
            glGetProgramInfoLog(program_, sizeof log - 1, nullptr, log);
            error = std::string("shader link failed: ") + log;
            return false;
        }
        uMode_ = glGetUniformLocation(program_, "uMode");
        uAlphaTest_ = glGetUniformLocation(program_, "uAlphaTest");
        glUseProgram(program_);
        glUniform1i(glGetUniformLocation(program_, "uTex"), 0);

        glGenVertexArrays(1, &vao_);
        glGenBuffers(1, &vbo_);
        glGenBuffers(1, &ebo_);
        glBindVertexArray(vao_);
        glBindBuffer(GL_ARRAY_BUFFER, vbo_);
        glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, ebo_);
        const GLsizei stride = sizeof(GfxVertex);
        glEnableVertexAttribArray(0);
        glVertexAttribPointer(0, 2, GL_FLOAT, GL_FALSE, stride,
                              reinterpret_cast<const void*>(offsetof(GfxVertex, x)));
        glEnableVertexAttribArray(1);
        glVertexAttribPointer(1, 2, GL_FLOAT, GL_FALSE, stride,
                              reinterpret_cast<const void*>(offsetof(GfxVertex, u)));
        // The colour word 0xAARRGGBB lies in memory as B, G, R, A.
        glEnableVertexAttribArray(2);
        glVertexAttribPointer(2, GL_BGRA, GL_UNSIGNED_BYTE, GL_TRUE, stride,
                              reinterpret_cast<const void*>(offsetof(GfxVertex, color)));

        glGenSamplers(2, samplers_);
        for (int i = 0; i < 2; ++i) {
            GLint f = i ? GL_LINEAR : GL_NEAREST;
            glSamplerParameteri(samplers_[i], GL_TEXTURE_MIN_FILTER, f);
            glSamplerParameteri(samplers_[i], GL_TEXTURE_MAG_FILTER, f);
            glSamplerParameteri(samplers_[i], GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
            glSamplerParameteri(samplers_[i], GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
        }

        glGenRenderbuffers(1, &colorRb_);
        glBindRenderbuffer(GL_RENDERBUFFER, colorRb_);
        glRenderbufferStorage(GL_RENDERBUFFER, GL_RGB8, kW, kH);
        glGenFramebuffers(1, &fbo_);
        glBindFramebuffer(GL_FRAMEBUFFER, fbo_);
        glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, colorRb_);
        if (glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) {
            error = "the 1024 x 768 frame buffer cannot be made";
            return false;
        }
        glViewport(0, 0, kW, kH);
        glClearColor(0, 0, 0, 1);
        glClear(GL_COLOR_BUFFER_BIT);
        glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
        glPixelStorei(GL_PACK_ALIGNMENT, 4);
        if (GLenum e = glGetError(); e != GL_NO_ERROR) {
            error = "OpenGL error " + std::to_string(e) + " while setting up";
            return false;
        }
        return true;
    }

    bool IsNull() const override { return false; }
    std::string Describe() const override { return describe_; }

    GfxTexture CreateTexture(int width, int height, const uint32_t* argb) override {
        if (width <= 0 || height <= 0 || !argb) return 0;
        submit();  // recorded batches may name a texture about to be reused
        if (auto spare = spare_.find({width, height}); spare != spare_.end()) {
            // A released texture of this size: refilled in place, which spares
            // the driver a fresh allocation (and its clearing) of the storage.
            const GfxTexture t = spare->second;
            spare_.erase(spare);
            spareTexels_ -= uint64_t(width) * uint64_t(height);
            sizes_[t] = {width, height};
            if (UpdateTexture(t, width, height, argb)) return t;
            sizes_.erase(t);
            GLuint n = t;
            glDeleteTextures(1, &n);
            boundTexture_ = 0;
            return 0;
        }
        // Nothing to reuse: make room for the new texture first, so that the
        // spares never make the textures held outgrow what the images once
        // needed.
        for (uint64_t freed = 0; freed < uint64_t(width) * uint64_t(height) && !spare_.empty();) {
            auto it = std::prev(spare_.end());  // largest first
            freed += uint64_t(it->first.first) * uint64_t(it->first.second);
            spareTexels_ -= uint64_t(it->first.first) * uint64_t(it->first.second);
            GLuint n = it->second;
            glDeleteTextures(1, &n);
            if (boundTexture_ == it->second) boundTexture_ = 0;
            spare_.erase(it);
        }
        GLuint t = 0;
        glGenTextures(1, &t);
        glActiveTexture(GL_TEXTURE0);
        glBindTexture(GL_TEXTURE_2D, t);
        boundTexture_ = t;
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
        while (glGetError() != GL_NO_ERROR) {
        }
        // The unsized internal format lets the driver store the texels in the
        // layout they arrive in (B, G, R, A bytes), so uploads are plain
        // copies; the sized GL_RGBA8 made llvmpipe reorder every texel's
        // bytes, a quarter of a screen change's time.
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, width, height, 0, GL_BGRA, kTexelType, argb);
        if (glGetError() != GL_NO_ERROR) {
            glDeleteTextures(1, &t);
            boundTexture_ = 0;
            return 0;
        }
        sizes_[t] = {width, height};
        return t;
    }

    bool UpdateTexture(GfxTexture texture, int width, int height, const uint32_t* argb) override {
        auto it = sizes_.find(texture);
        if (it == sizes_.end() || !argb || it->second.first != width || it->second.second != height) return false;
        submit();  // recorded batches draw the texture as it was
        glActiveTexture(GL_TEXTURE0);
        glBindTexture(GL_TEXTURE_2D, texture);
        boundTexture_ = texture;
        glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, width, height, GL_BGRA, kTexelType, argb);
        return true;
    }

    // Released textures are kept for the next ones of the same size (screen
    // changes release and load pictures of the same sizes), up to
    // kMaxSpareTexels texels.
    void DeleteTexture(GfxTexture texture) override {
        auto it = sizes_.find(texture);
        if (it == sizes_.end()) return;
        submit();
        const auto [w, h] = it->second;
        sizes_.erase(it);
        if (spareTexels_ + uint64_t(w) * uint64_t(h) <= kMaxSpareTexels) {
            spare_.emplace(std::pair<int, int>{w, h}, texture);
            spareTexels_ += uint64_t(w) * uint64_t(h);
            return;
        }
        GLuint t = texture;
        glDeleteTextures(1, &t);
        if (boundTexture_ == texture) boundTexture_ = 0;
    }

    void BeginFrame(bool clear, uint32_t argb) override {
        submit();  // batches of a frame that was never ended still come first
        glBindFramebuffer(GL_FRAMEBUFFER, fbo_);
        glViewport(0, 0, kW, kH);
        // The state every scene starts from: no depth, no culling, no
        // scissor, no dithering; blending as each batch says.
        glDisable(GL_DEPTH_TEST);
        glDisable(GL_CULL_FACE);
        glDisable(GL_SCISSOR_TEST);
        glDisable(GL_DITHER);
        glDisable(GL_BLEND);
        blendOn_ = false;
        lastBlend_ = ~0ull;
        glUseProgram(program_);
        glBindVertexArray(vao_);
        if (clear) {
            glClearColor(((argb >> 16) & 0xFF) / 255.0f, ((argb >> 8) & 0xFF) / 255.0f, (argb & 0xFF) / 255.0f, 1.0f);
            glClear(GL_COLOR_BUFFER_BIT);
        }
    }

    // Batches are recorded and drawn together at the end of the frame (or
    // before anything that reads the frame or changes a texture): all their
    // vertices then reach the driver in one upload. Uploading each batch on
    // its own made the driver allocate and copy buffer storage per batch,
    // which cost more than the drawing on busy screens.
    void DrawBatch(const GfxDrawState& st, const GfxVertex* vertices, size_t vertexCount, const uint32_t* indices,
                   size_t indexCount) override {
        if (!vertices || !indices || vertexCount == 0 || indexCount == 0) return;
        // Indices that point past the vertices would read outside the buffer
        // on the GPU side; such a batch is refused.
        for (size_t i = 0; i < indexCount; ++i)
            if (indices[i] >= vertexCount) return;
        // A texture that is gone (released on loss, or never made) draws
        // nothing rather than bare vertex colours.
        if (st.texture != 0 && !sizes_.count(st.texture)) return;
        ++batches_;
        if (st.primitive == GfxPrimitive::Lines) {
            recordLines(st, vertices, indices, indexCount);
        } else {
            record(st, GL_TRIANGLES, vertices, vertexCount, indices, indexCount);
        }
    }

    void EndFrame() override {
        submit();
        glFlush();
    }

    bool ReadFrame(std::vector<uint32_t>& argb) override {
        submit();
        argb.assign(size_t(kW) * kH, 0);
        glBindFramebuffer(GL_READ_FRAMEBUFFER, fbo_);
        glReadBuffer(GL_COLOR_ATTACHMENT0);
        while (glGetError() != GL_NO_ERROR) {
        }
        // The frame's memory rows already run top first (see the vertex shader).
        glReadPixels(0, 0, kW, kH, GL_BGRA, GL_UNSIGNED_INT_8_8_8_8_REV, argb.data());
        if (glGetError() != GL_NO_ERROR) {
            argb.clear();
            return false;
        }
        for (auto& p : argb) p |= 0xFF000000u;
        return true;
    }

    void PresentToWindow(int w, int h) override {
        if (w <= 0 || h <= 0) return;
        submit();
        Letterbox lb = ComputeLetterbox(w, h);
        glBindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
        glViewport(0, 0, w, h);
        glDisable(GL_SCISSOR_TEST);
        glClearColor(0, 0, 0, 1);
        glClear(GL_COLOR_BUFFER_BIT);
        glBindFramebuffer(GL_READ_FRAMEBUFFER, fbo_);
        // Window rows run bottom up and the frame's rows top down: the blit
        // turns the picture over. The letterbox is measured from the top.
        const int y0 = h - lb.y - lb.height;
        const bool exact = lb.width == kW && lb.height == kH;
        glBlitFramebuffer(0, 0, kW, kH, lb.x, y0 + lb.height, lb.x + lb.width, y0, GL_COLOR_BUFFER_BIT,
                          exact ? GL_NEAREST : GL_LINEAR);
        glBindFramebuffer(GL_FRAMEBUFFER, fbo_);
    }

private:
    void recordLines(const GfxDrawState& st, const GfxVertex* v, const uint32_t* indices, size_t indexCount) {
        lineQuads_.clear();
        lineQuadIndices_.clear();
        slanted_.clear();
        slantedIndices_.clear();
        for (size_t i = 0; i + 1 < indexCount; i += 2) {
            const GfxVertex& a = v[indices[i]];
            const GfxVertex& b = v[indices[i + 1]];
            if (a.x != b.x && a.y != b.y) {
                slantedIndices_.push_back(uint32_t(slanted_.size()));
                slanted_.push_back(a);
                slantedIndices_.push_back(uint32_t(slanted_.size()));
                slanted_.push_back(b);
                continue;
            }
            if (a.x == b.x && a.y == b.y) continue;  // no pixels
            const bool horizontal = a.y == b.y;
            // Along the line: the pixel cells [start, end) in travel order,
            // i.e. edges at start - 0.5 and end - 0.5 going forward, or at
            // start + 0.5 and end + 0.5 going backward.
            const float from = horizontal ? a.x : a.y;
            const float to = horizontal ? b.x : b.y;
            const float shift = to > from ? -0.5f : 0.5f;
            const float s0 = from + shift, s1 = to + shift;
            const float across = horizontal ? a.y : a.x;
            const float c0 = across - 0.5f, c1 = across + 0.5f;
            GfxVertex q[4] = {a, b, b, a};
            if (horizontal) {
                q[0].x = s0; q[0].y = c0;
                q[1].x = s1; q[1].y = c0;
                q[2].x = s1; q[2].y = c1;
                q[3].x = s0; q[3].y = c1;
            } else {
                q[0].x = c0; q[0].y = s0;
                q[1].x = c0; q[1].y = s1;
                q[2].x = c1; q[2].y = s1;
                q[3].x = c1; q[3].y = s0;
            }
            const uint32_t base = uint32_t(lineQuads_.size());
            lineQuads_.insert(lineQuads_.end(), q, q + 4);
            for (uint32_t k : {0u, 1u, 3u, 1u, 2u, 3u}) lineQuadIndices_.push_back(base + k);
        }
        if (!lineQuads_.empty())
            record(st, GL_TRIANGLES, lineQuads_.data(), lineQuads_.size(), lineQuadIndices_.data(),
                   lineQuadIndices_.size());
        if (!slanted_.empty())
            record(st, GL_LINES, slanted_.data(), slanted_.size(), slantedIndices_.data(), slantedIndices_.size());
    }

    // Appends one draw to the frame's recorded batches.
    void record(const GfxDrawState& st, GLenum mode, const GfxVertex* vertices, size_t vertexCount,
                const uint32_t* indices, size_t indexCount) {
        Pending p;
        p.state = st;
        p.mode = mode;
        p.baseVertex = GLint(pendingVertices_.size());
        p.firstIndex = pendingIndices_.size();
        p.indexCount = GLsizei(indexCount);
        pendingVertices_.insert(pendingVertices_.end(), vertices, vertices + vertexCount);
        pendingIndices_.insert(pendingIndices_.end(), indices, indices + indexCount);
        pending_.push_back(p);
    }

    // Draws every recorded batch, in order, from one upload of their
    // vertices and indices.
    void submit() {
        if (pending_.empty()) return;
        glBindFramebuffer(GL_FRAMEBUFFER, fbo_);
        glViewport(0, 0, kW, kH);
        glUseProgram(program_);
        glBindVertexArray(vao_);
        glBindBuffer(GL_ARRAY_BUFFER, vbo_);
        glBufferData(GL_ARRAY_BUFFER, GLsizeiptr(pendingVertices_.size() * sizeof(GfxVertex)), pendingVertices_.data(),
                     GL_STREAM_DRAW);
        glBufferData(GL_ELEMENT_ARRAY_BUFFER, GLsizeiptr(pendingIndices_.size() * sizeof(uint32_t)),
                     pendingIndices_.data(), GL_STREAM_DRAW);
        int lastMode = -1, lastAlphaTest = -1;
        GLuint lastSampler = ~0u;
        for (const Pending& p : pending_) {
            const GfxDrawState& st = p.state;
            const bool opaque = gfxfx::IsOpaque(st.effect);
            if (opaque) {
                if (blendOn_) glDisable(GL_BLEND);
                blendOn_ = false;
            } else {
                if (!blendOn_) glEnable(GL_BLEND);
                blendOn_ = true;
                uint64_t key = st.effect & 0x00FFFFFFu;
                if (key != lastBlend_) {
                    GLenum src = BlendFactor(gfxfx::SourceFactor(st.effect), GL_ONE);
                    GLenum dst = BlendFactor(gfxfx::DestFactor(st.effect), GL_ZERO);
                    glBlendFuncSeparate(src, dst, src, dst);
                    glBlendEquation(BlendOperation(gfxfx::Operation(st.effect)));
                    lastBlend_ = key;
                }
            }
            const bool modulate = st.modulate || (st.effect & gfxfx::kModulate);
            const int mode = st.texture == 0 ? 0 : (modulate ? 2 : 1);
            if (mode != lastMode) glUniform1i(uMode_, lastMode = mode);
            const int alphaTest = st.alphaTest && !opaque ? 1 : 0;
            if (alphaTest != lastAlphaTest) glUniform1i(uAlphaTest_, lastAlphaTest = alphaTest);
            if (mode != 0) {
                glActiveTexture(GL_TEXTURE0);
                if (boundTexture_ != st.texture) {
                    glBindTexture(GL_TEXTURE_2D, st.texture);
                    boundTexture_ = st.texture;
                }
                const GLuint sampler = samplers_[st.linearFilter ? 1 : 0];
                if (sampler != lastSampler) glBindSampler(0, lastSampler = sampler);
            }
            glDrawElementsBaseVertex(p.mode, p.indexCount, GL_UNSIGNED_INT,
                                     reinterpret_cast<const void*>(p.firstIndex * sizeof(uint32_t)), p.baseVertex);
        }
        pending_.clear();
        pendingVertices_.clear();
        pendingIndices_.clear();
    }

    void release() {
        for (auto& [t, size] : sizes_) {
            GLuint n = t;
            glDeleteTextures(1, &n);
        }
        sizes_.clear();
        for (auto& [size, t] : spare_) {
            GLuint n = t;
            glDeleteTextures(1, &n);
        }
        spare_.clear();
        spareTexels_ = 0;
        if (samplers_[0]) glDeleteSamplers(2, samplers_);
        if (fbo_) glDeleteFramebuffers(1, &fbo_);
        if (colorRb_) glDeleteRenderbuffers(1, &colorRb_);
        if (vbo_) glDeleteBuffers(1, &vbo_);
        if (ebo_) glDeleteBuffers(1, &ebo_);
        if (vao_) glDeleteVertexArrays(1, &vao_);
        if (program_) glDeleteProgram(program_);
    }

    std::string describe_;
    GLuint program_ = 0, vao_ = 0, vbo_ = 0, ebo_ = 0, fbo_ = 0, colorRb_ = 0;
    GLuint samplers_[2] = {0, 0};
    GLint uMode_ = -1, uAlphaTest_ = -1;
    bool blendOn_ = false;
    uint64_t lastBlend_ = ~0ull;
    GfxTexture boundTexture_ = 0;
    std::unordered_map<GfxTexture, std::pair<int, int>> sizes_;
    static constexpr uint64_t kMaxSpareTexels = uint64_t(32) << 20;  // 128 MiB of RGBA
    std::multimap<std::pair<int, int>, GfxTexture> spare_;            // released, by size
    uint64_t spareTexels_ = 0;
    std::vector<GfxVertex> lineQuads_, slanted_;
    std::vector<uint32_t> lineQuadIndices_, slantedIndices_;
    // Batches recorded since the last submit.
    struct Pending {
        GfxDrawState state;
        GLenum mode = GL_TRIANGLES;
        GLint baseVertex = 0;
        size_t firstIndex = 0;
        GLsizei indexCount = 0;
    };
    std::vector<Pending> pending_;
    std::vector<GfxVertex> pendingVertices_;
    std::vector<uint32_t> pendingIndices_;
};

}  // namespace

std::unique_ptr<GraphicsBackend> CreateGLGraphics(std::string& error) {
    auto g = std::make_unique<GLGraphics>();
    if (!g->init(error)) return nullptr;
    return g;
}

}  // namespace nb
