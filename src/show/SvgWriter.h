// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Writes SVG as plain text: nested elements with attributes and text, every
// value escaped. Just what the motion plot needs; no toolkit.

#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

class SvgWriter {
public:
    using Attributes = std::initializer_list<std::pair<const char*, std::string>>;

    SvgWriter(double width, double height);
    void open(const char* name, Attributes attributes = {});
    void close();
    void element(const char* name, Attributes attributes);  // empty element
    void text(double x, double y, const std::string& content, Attributes attributes = {});
    // The document, every element still open closed.
    std::string finish();

    // A number as an attribute value: one decimal, no "-0.0".
    static std::string num(double value);

private:
    void tag(const char* name, Attributes attributes);
    static std::string escaped(const std::string& text);

    std::string out_;
    std::vector<const char*> open_;
};
