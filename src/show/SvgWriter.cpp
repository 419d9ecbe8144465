// SPDX-License-Identifier: GPL-3.0-or-later
#include "show/SvgWriter.h"

#include <cmath>
#include <cstdio>

SvgWriter::SvgWriter(double width, double height) {
    out_ = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    open("svg", {{"xmlns", "http://www.w3.org/2000/svg"},
                 {"width", num(width)},
                 {"height", num(height)},
                 {"viewBox", "0 0 " + num(width) + " " + num(height)}});
}

void SvgWriter::tag(const char* name, Attributes attributes) {
    out_ += std::string(open_.size() * 2, ' ') + '<' + name;
    for (const auto& [key, value] : attributes) out_ += std::string(" ") + key + "=\"" + escaped(value) + '"';
}

void SvgWriter::open(const char* name, Attributes attributes) {
    tag(name, attributes);
    out_ += ">\n";
    open_.push_back(name);
}

void SvgWriter::close() {
    if (open_.empty()) return;
    const char* name = open_.back();
    open_.pop_back();
    out_ += std::string(open_.size() * 2, ' ') + "</" + name + ">\n";
}

void SvgWriter::element(const char* name, Attributes attributes) {
    tag(name, attributes);
    out_ += "/>\n";
}

void SvgWriter::text(double x, double y, const std::string& content, Attributes attributes) {
    tag("text", {{"x", num(x)}, {"y", num(y)}});
    for (const auto& [key, value] : attributes) out_ += std::string(" ") + key + "=\"" + escaped(value) + '"';
    out_ += '>' + escaped(content) + "</text>\n";
}

std::string SvgWriter::finish() {
    while (!open_.empty()) close();
    return std::move(out_);
}

std::string SvgWriter::num(double value) {
    if (!std::isfinite(value)) value = 0;
    char text[48];
    std::snprintf(text, sizeof text, "%.1f", value);
    const std::string s = text;
    return s == "-0.0" ? "0.0" : s;
}

std::string SvgWriter::escaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out += c;
        }
    }
    return out;
}
