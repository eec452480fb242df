// Baking an animation's frame table from its keys, and the cubic splines
// that smooth the motion of named parts across all keys.
#include <algorithm>
#include <cmath>
#include <map>

#include "media/UnitNBIm.h"
#include "platform/Text.h"
#include "render/RenderImages.h"
#include "scene/Anim.h"
#include "scene/Image.h"

namespace nb {

// ------------------------------------------------------------ TAnimSpline

bool TAnimSpline::Build(const std::vector<double>& x, const std::vector<double>& y) {
    x_.clear();
    y_.clear();
    d_.clear();
    const size_t n = x.size();
    if (n < 2 || y.size() != n) return false;
    for (size_t i = 0; i < n; ++i)
        if (!std::isfinite(x[i]) || (i > 0 && !(x[i] > x[i - 1]))) return false;

    std::vector<double> d(n);
    if (n == 2) {
        // Parabolic ends on a single interval leave a straight line.
        d[0] = d[1] = (y[1] - y[0]) / (x[1] - x[0]);
    } else {
        // First derivatives from the tridiagonal system: continuous second
        // derivatives inside, and d0 + d1 = 2 * slope at each end, which
        // makes the end intervals parabolas.
        std::vector<double> sub(n), diag(n), sup(n), rhs(n);
        sub[0] = 0;
        diag[0] = 1;
        sup[0] = 1;
        rhs[0] = 2 * (y[1] - y[0]) / (x[1] - x[0]);
        for (size_t i = 1; i + 1 < n; ++i) {
            sub[i] = x[i + 1] - x[i];
            diag[i] = 2 * (x[i + 1] - x[i - 1]);
            sup[i] = x[i] - x[i - 1];
            rhs[i] = 3 * (y[i] - y[i - 1]) / (x[i] - x[i - 1]) * (x[i + 1] - x[i]) +
                     3 * (y[i + 1] - y[i]) / (x[i + 1] - x[i]) * (x[i] - x[i - 1]);
        }
        sub[n - 1] = 1;
        diag[n - 1] = 1;
        sup[n - 1] = 0;
        rhs[n - 1] = 2 * (y[n - 1] - y[n - 2]) / (x[n - 1] - x[n - 2]);
        // Forward elimination and back substitution.
        for (size_t k = 1; k < n; ++k) {
            const double t = sub[k] / diag[k - 1];
            diag[k] -= t * sup[k - 1];
            rhs[k] -= t * rhs[k - 1];
        }
        d[n - 1] = rhs[n - 1] / diag[n - 1];
        for (size_t k = n - 1; k-- > 0;) d[k] = (rhs[k] - sup[k] * d[k + 1]) / diag[k];
    }
    x_ = x;
    y_ = y;
    d_ = std::move(d);
    return true;
}

double TAnimSpline::Eval(double t) const {
    const size_t n = x_.size();
    if (n < 2) return 0;
    // The interval holding t; before the first knot the first, after the
    // last knot the last.
    size_t i = size_t(std::upper_bound(x_.begin(), x_.end(), t) - x_.begin());
    i = i == 0 ? 0 : std::min(i - 1, n - 2);
    const double delta = x_[i + 1] - x_[i];
    const double y0 = y_[i], y1 = y_[i + 1], d0 = d_[i], d1 = d_[i + 1];
    const double c2 = (3 * (y1 - y0) / delta - 2 * d0 - d1) / delta;
    const double c3 = (2 * (y0 - y1) / delta + d0 + d1) / (delta * delta);
    const double u = t - x_[i];
    return y0 + u * (d0 + u * (c2 + u * c3));
}

// ------------------------------------------------------------ baking

namespace {

// What the bake reads of one part of a key.
struct TPose {
    TNBImage* part = nullptr;
    TNBIm* entry = nullptr;
    TRenderImage* image = nullptr;  // null: not loaded
    double relX = 0, relY = 0;      // aligned top-left corner relative to the animation
    double W = 0, H = 0;            // the picture's visible size
    double scale = 1, angle = 0, scaleX = 1, scaleY = 1;
    uint32_t rgb = 0, trans = 0, color = 0;
    int32_t pattern = 0;
    uint32_t drawFx = 0;
    bool interpol = false, interpolSc = false;
};

// The samples of one named part through the keys, and their splines.
struct TTrack {
    enum { kCx, kCy, kScale, kAngle, kScaleX, kScaleY, kSeries };
    std::vector<double> frames;
    std::vector<double> values[kSeries];
    TAnimSpline splines[kSeries];
    bool smooth = false;
};

// Nearest integer, halves to even, as a real (NaN and infinities pass).
double Round(double v) { return roundHalfEven(v); }

uint32_t WithAlpha(uint32_t rgb, double alpha) {
    // Alpha values come from bytes mixed by factors within 0 ... 1.
    const double a = alpha >= 0 ? std::min(alpha, 255.0) : 0.0;  // NaN gives 0
    return (rgb & 0x00FFFFFFu) | (uint32_t(a) << 24);
}

}  // namespace

void TNBAnim::Rebuild() {
    // While the game file or a saved state is read the keys are incomplete;
    // the loader's Init and LoadImages rebuild afterwards.
    if (ctx_.restoring) return;
    frames_.clear();
    frameCount_ = 0;

    // Keys (in child order) up to the frame limit, and the poses of their
    // parts. Every key and part takes part whatever its visibility.
    std::vector<TNBAnKey*> keys;
    int64_t total = 0;
    for (size_t i = 0; i < ChildCount(); ++i) {
        TNBElement* c = Child(i);
        if (!c->IsA(TClassId::TNBAnKey)) continue;
        auto* k = static_cast<TNBAnKey*>(c);
        const int64_t span = int64_t(k->Count()) + 1;
        if (total + span > kMaxFrames) break;
        total += span;
        keys.push_back(k);
    }
    const int64_t ax = GetAbsX(), ay = GetAbsY();
    std::vector<std::vector<TPose>> poses(keys.size());
    for (size_t k = 0; k < keys.size(); ++k) {
        for (size_t i = 0; i < keys[k]->ChildCount(); ++i) {
            TNBElement* c = keys[k]->Child(i);
            if (!c->IsA(TClassId::TNBImage)) continue;
            auto* img = static_cast<TNBImage*>(c);
            TPose p;
            p.part = img;
            p.entry = img->Picture();
            p.image = img->LoadedPicture();
            if (p.image) {
                p.W = p.image->VisibleWidth;
                p.H = p.image->VisibleHeight;
                p.relX = double(int64_t(img->GetAbsX()) - ax);
                p.relY = double(int64_t(img->GetAbsY()) - ay);
            }
            p.scale = img->Scale();
            p.angle = img->Angle();
            p.scaleX = img->ScaleX();
            p.scaleY = img->ScaleY();
            p.color = img->Color();
            p.rgb = p.color & 0x00FFFFFFu;
            p.trans = p.color >> 24;
            p.pattern = img->Anim();
            p.drawFx = img->DrawFx();
            p.interpol = img->Interpol();
            p.interpolSc = img->InterpolSc();
            poses[k].push_back(p);
        }
    }

    // Tracks of named parts through all keys, smoothed by splines.
    const bool animInterpol = StoredInt(TProp::Interpol) != 0;
    std::map<std::string, TTrack> tracks;
    if (animInterpol) {
        int64_t f = 0;
        for (size_t k = 0; k < keys.size(); ++k) {
            for (const TPose& p : poses[k]) {
                if (!p.image || p.part->Id().empty()) continue;
                TTrack& t = tracks[p.part->Id()];
                // A name twice in one key has one sample there: the first.
                if (!t.frames.empty() && t.frames.back() >= double(f)) continue;
                t.frames.push_back(double(f));
                t.values[TTrack::kCx].push_back(p.relX + p.scale * p.W / 2);
                t.values[TTrack::kCy].push_back(p.relY + p.scale * p.H / 2);
                t.values[TTrack::kScale].push_back(p.scale);
                t.values[TTrack::kAngle].push_back(p.angle);
                t.values[TTrack::kScaleX].push_back(p.scaleX);
                t.values[TTrack::kScaleY].push_back(p.scaleY);
            }
            f += int64_t(keys[k]->Count()) + 1;
        }
        for (auto& [id, t] : tracks) {
            if (t.frames.size() < 2) continue;
            t.smooth = true;
            for (int s = 0; s < TTrack::kSeries; ++s) t.smooth = t.splines[s].Build(t.frames, t.values[s]) && t.smooth;
        }
    }

    frames_.resize(size_t(total));
    size_t records = 0;
    auto emit = [&](int64_t frame, const TSpriteRecord& r) {
        if (records >= kMaxRecords) return;
        frames_[size_t(frame)].push_back(r);
        ++records;
    };

    int64_t f = 0;
    for (size_t k = 0; k < keys.size(); ++k) {
        const TNBAnKey* key = keys[k];
        const std::vector<TPose>* next = nullptr;
        if (k + 1 < keys.size()) next = &poses[k + 1];
        else if (Rep()) next = &poses[0];
        const int32_t c = key->Count();
        const double d = double(c) + 1;
        // The cross-fade's halves: up to c div 2 and beyond. A key of one
        // frame has no second half to fade into and shows its part unfaded.
        const bool morph = key->Morph() && c > 0;
        const double h = c / 2.0;
        const int32_t half = c / 2;

        for (const TPose& A : poses[k]) {
            const std::string& id = A.part->Id();
            const TPose* E = nullptr;
            if (next && !id.empty()) {
                for (const TPose& cand : *next) {
                    if (iequalsAscii(cand.part->Id(), id)) {
                        E = &cand;
                        break;
                    }
                }
            }
            if (!A.image) continue;
            if (!E) {
                // A named part missing from the next key is not drawn during
                // this key; any other stands still.
                if (!id.empty() && next) continue;
                E = &A;
            }
            if (!E->image) continue;

            const TTrack* track = nullptr;
            if (A.interpol && animInterpol && !id.empty()) {
                auto it = tracks.find(id);
                if (it != tracks.end() && it->second.smooth) track = &it->second;
            }
            const bool differ = A.image != E->image || A.pattern != E->pattern;

            for (int32_t g = 0; g <= c; ++g) {
                const double t = double(f + g);
                TSpriteRecord r;
                r.picture = A.entry;
                r.pattern = A.pattern;
                r.x = A.relX + (E->relX - A.relX) / d * g;
                r.y = A.relY + (E->relY - A.relY) / d * g;
                r.scale = A.scale + (E->scale - A.scale) / d * g;
                r.angle = A.angle + (E->angle - A.angle) / d * g;
                r.scaleX = A.scaleX + (E->scaleX - A.scaleX) / d * g;
                r.scaleY = A.scaleY + (E->scaleY - A.scaleY) / d * g;
                r.x += A.W * 0.5 * r.scale;
                r.y += A.H * 0.5 * r.scale;
                if (track) {
                    r.x = track->splines[TTrack::kCx].Eval(t);
                    r.y = track->splines[TTrack::kCy].Eval(t);
                    if (A.interpolSc) {
                        r.scale = track->splines[TTrack::kScale].Eval(t);
                        r.scaleX = track->splines[TTrack::kScaleX].Eval(t);
                        r.scaleY = track->splines[TTrack::kScaleY].Eval(t);
                    }
                    r.angle = track->splines[TTrack::kAngle].Eval(t);
                }
                const double alpha = Round((double(E->trans) - double(A.trans)) / d * g) + double(A.trans);
                r.color = WithAlpha(A.rgb, alpha);
                r.drawFx = A.drawFx;

                if (!differ) {
                    emit(f + g, r);
                    continue;
                }
                // A changes picture: it stays where it is, with its own
                // colour; only its extra factors follow the interpolation.
                r.x = A.relX + A.W * 0.5 * A.scale;
                r.y = A.relY + A.H * 0.5 * A.scale;
                r.scale = A.scale;
                r.angle = A.angle;
                r.color = A.color;
                if (!morph) {
                    emit(f + g, r);
                    continue;
                }
                // Cross-fade: A from full to 223/255 and then to nothing, E
                // from nothing to 223/255 and then to full.
                const double a = g <= half ? Round(A.trans * (255 - 32 * g / h) / 255)
                                           : Round(A.trans * (223 - (g - h) * 223 / h) / 255);
                r.color = WithAlpha(A.rgb, a);
                TSpriteRecord e = r;
                e.picture = E->entry;
                e.pattern = E->pattern;
                e.x = E->relX + E->W * 0.5 * E->scale;
                e.y = E->relY + E->H * 0.5 * E->scale;
                e.scale = E->scale;
                e.angle = E->angle;
                e.drawFx = E->drawFx;
                const double b = g <= half ? Round(E->trans * (223 * g / h) / 255)
                                           : Round(E->trans * ((g - h) * 32 / h + 223) / 255);
                e.color = WithAlpha(E->rgb, b);
                emit(f + g, r);
                emit(f + g, e);
            }
        }
        f += int64_t(c) + 1;
    }
    frameCount_ = int32_t(total);

    // Direction pass: the angle with the animation's turn, within 0 ... 360;
    // a part showing pattern -1 takes one of sixteen direction patterns and
    // keeps only the remainder of its angle.
    const double turn = AnimAngle();
    for (std::vector<TSpriteRecord>& frame : frames_) {
        for (TSpriteRecord& r : frame) {
            double a = Round((turn + r.angle) * 1000) / 1000;
            if (!(a >= -100000 && a <= 100000)) a = 0;  // also NaN
            while (a < 0) a += 360;
            while (a >= 360) a -= 360;
            if (r.pattern != -1) continue;
            const int32_t G = std::min(int32_t(Round(a * 10)) / 225, 15);
            r.pattern = G;
            r.angle = a - 22.5 * G;
        }
    }

    SetFramePos(FramePos());
}

}  // namespace nb
