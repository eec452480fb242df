#include "scene/Text.h"

#include <algorithm>

#include "platform/Text.h"
#include "render/RenderCanvas.h"
#include "render/RenderFonts.h"
#include "scene/Root.h"
#include "scene/Shape.h"

namespace nb {

TNBText::TNBText(TSceneContext& ctx, TNBElement* parent) : TNBElement(ctx, TClassId::TNBText, parent) {}

TRenderFont* TNBText::Font() const {
    if (!fontFound_ || !ctx_.fonts) return nullptr;
    return ctx_.fonts->Find(fontName_);
}

std::string TNBText::LayOut(std::string_view text, bool autoEnter, int32_t boxWidth,
                            const std::function<double(std::string_view)>& width) {
    // Lines end at whichever break comes first; each gets one character 0.
    std::string lines;
    std::string_view rest = text;
    while (!rest.empty()) {
        const size_t end = std::min(rest.find("\r\n"), rest.find("\\n"));
        if (end == std::string_view::npos) {
            lines.append(rest);
            lines.push_back('\0');
            break;
        }
        lines.append(rest.substr(0, end));
        lines.push_back('\0');
        rest.remove_prefix(end + 2);
    }
    if (!autoEnter) return lines;

    // Word wrap. Line ends from above only separate words: the text flows as
    // one paragraph, and x does not restart at them. After a break x is the
    // new line's word without its leading space.
    std::string out;
    const double space = width(" ");
    double x = 0;
    size_t pos = 0;
    while (pos < lines.size()) {
        size_t end = pos;
        while (end < lines.size() && lines[end] != ' ' && lines[end] != '\0') ++end;
        std::string word = lines.substr(pos, end - pos);
        if (x != 0) word.insert(word.begin(), ' ');
        const double ww = width(word);
        if (x + ww > boxWidth && x != 0) {
            word[0] = '\0';
            out += word;
            x = ww - space;
        } else {
            out += word;
            x += ww;
        }
        pos = end + 1;  // the word and its one delimiter
    }
    return out;
}

void TNBText::SetText(std::string v) {
    if (!textId_.empty()) v = root_ ? root_->LookupText(textId_) : std::string();
    text_ = std::move(v);
    TRenderFont* font = Font();
    if (!enEnter_ || !font) {
        laid_ = text_;
        return;
    }
    font->Scale = scale_;
    TRenderFonts* fonts = ctx_.fonts;
    laid_ = LayOut(text_, autoEnter_, sizeX_,
                   [fonts, font](std::string_view s) { return fonts->TextWidth(font, s); });
}

void TNBText::SetTextId(std::string id) {
    textId_ = std::move(id);
    SetText(root_ ? root_->LookupText(textId_) : std::string());
}

void TNBText::SetFont(std::string name) {
    fontName_ = std::move(name);
    fontFound_ = ctx_.fonts && ctx_.fonts->Find(fontName_);
    Relayout();
}

void TNBText::SetScale(double v) {
    scale_ = v;
    Relayout();
}

void TNBText::SetEnEnter(bool v) {
    enEnter_ = v;
    Relayout();
}

void TNBText::SetAutoEnter(bool v) {
    autoEnter_ = v;
    Relayout();
}

void TNBText::SetAutoScale(bool v) {
    autoScale_ = v;
    Relayout();
}

void TNBText::SetSizeX(int32_t v) {
    sizeX_ = v;
    Relayout();
}

bool TNBText::GetProp(int index, TPropValue& out) {
    switch (PropCode(index)) {
        case TProp::hxDrawFx: out = TPropValue::Int(drawFx_); return true;
        case TProp::hxColor1: out = TPropValue::Int(ColorView(top_)); return true;
        case TProp::hxTrans1: out = TPropValue::Int(TransView(top_)); return true;
        case TProp::hxColor2: out = TPropValue::Int(ColorView(bottom_)); return true;
        case TProp::hxTrans2: out = TPropValue::Int(TransView(bottom_)); return true;
        case TProp::Font: out = TPropValue::Str(fontName_); return true;
        case TProp::PosHor: out = TPropValue::Int(posHor_); return true;
        case TProp::PosVert: out = TPropValue::Int(posVert_); return true;
        case TProp::TextId: out = TPropValue::Str(textId_); return true;
        case TProp::AutoEnter: out = TPropValue::Int(autoEnter_); return true;
        case TProp::EnEnter: out = TPropValue::Int(enEnter_); return true;
        case TProp::AutoScale: out = TPropValue::Int(autoScale_); return true;
        case TProp::Interval: out = TPropValue::Real(interval_); return true;
        case TProp::Text: out = TPropValue::Str(text_); return true;
        case TProp::Scale: out = TPropValue::Real(scale_); return true;
        default: return TNBElement::GetProp(index, out);
    }
}

void TNBText::SetProp(int index, const TPropValue& v) {
    switch (PropCode(index)) {
        case TProp::hxDrawFx: drawFx_ = uint32_t(v.i); break;
        case TProp::hxColor1: top_ = WithColorView(top_, v.i); break;
        case TProp::hxTrans1: top_ = WithTransView(top_, v.i); break;
        case TProp::hxColor2: bottom_ = WithColorView(bottom_, v.i); break;
        case TProp::hxTrans2: bottom_ = WithTransView(bottom_, v.i); break;
        case TProp::Font: SetFont(v.s); break;
        case TProp::PosHor: posHor_ = uint8_t(v.i); break;
        case TProp::PosVert: posVert_ = uint8_t(v.i); break;
        case TProp::TextId: SetTextId(v.s); break;
        case TProp::AutoEnter: SetAutoEnter(v.i != 0); break;
        case TProp::EnEnter: SetEnEnter(v.i != 0); break;
        case TProp::AutoScale: SetAutoScale(v.i != 0); break;
        case TProp::Interval: interval_ = v.r; break;
        case TProp::Text: SetText(v.s); break;
        case TProp::Scale: SetScale(v.r); break;
        default: TNBElement::SetProp(index, v); break;
    }
}

TNBElement* TNBText::HitTest(int32_t layer, int32_t x, int32_t y, int32_t, int32_t) {
    if (!MouseVisible() || layer != Order()) return nullptr;
    return InClosedBox(x, y, X(), Y(), sizeX_, sizeY_) ? this : nullptr;
}

bool TNBText::TextSize(double& width) {
    width = 0;
    if (TRenderFont* font = Font()) {
        font->Scale = scale_;
        width = ctx_.fonts->TextWidth(font, text_);
    }
    return true;
}

std::vector<TNBText::TLine> TNBText::Lines(double ox, double oy) {
    std::vector<TLine> lines;
    TRenderFont* font = Font();
    if (!font || laid_.empty()) return lines;
    TRenderFonts& fonts = *ctx_.fonts;
    font->Scale = scale_;
    std::string s = laid_;
    if (s.back() != '\0') s.push_back('\0');

    size_t n = 0;
    for (char c : s) n += c == '\0';
    const double lineHeight = fonts.TextHeight(font, s);
    const double block = double(n) * lineHeight + double(n - 1) * interval_;
    const double top = posVert_ == 1 ? (sizeY_ - block) / 2 : posVert_ == 2 ? sizeY_ - block : 0.0;

    double y = 0;
    size_t pos = 0;
    while (pos < s.size()) {
        const size_t end = s.find('\0', pos);
        std::string line = s.substr(pos, end - pos);
        pos = end + 1;
        double w = 0, h = 0;
        fonts.TextExtent(font, line, w, h);
        const double left = posHor_ == 1 ? (sizeX_ - w) / 2 : posHor_ == 2 ? sizeX_ - w : 0.0;
        TLine l;
        l.x = roundHalfEvenI32(ox + RX() + left);
        l.y = roundHalfEvenI32(oy + RY() + y + top);
        l.text = std::move(line);
        lines.push_back(std::move(l));
        y += h + interval_;
    }
    return lines;
}

void TNBText::Render(int32_t layer, uint32_t color, double ox, double oy, int32_t) {
    TNBElement::Render(layer, color, ox, oy, 0);
    if (layer != Order() || !ctx_.fonts || !ctx_.fonts->Canvas()) return;
    TRenderFont* font = Font();
    if (!font) return;
    TRenderCanvas* canvas = ctx_.fonts->Canvas();
    for (const TLine& l : Lines(ox, oy)) {
        // Unscaled glyphs map texels to pixels; scaled ones are filtered.
        canvas->SetAntialias(scale_ != 1.0);
        ctx_.fonts->TextOut(font, l.text, l.x, l.y, top_, bottom_, drawFx_);
    }
}

}  // namespace nb
