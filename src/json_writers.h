// Two writers of one document's shape, so that a document is written once
// and may be had either as a JSON value or straight as its compact text:
// a function template takes either writer and calls, in order,
// beginObject/key/value.../endObject and beginArray/value.../endArray. Keys
// come in ascending order, the order in which a JSON value holds and dumps
// them. For the library's own use; not installed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "json_members.h"

namespace game501 {

// Writes compact JSON text, byte for byte as nlohmann::json's
// dump(-1, ' ', false, error_handler_t::replace) writes the same document:
// strings as given but for the escapes JSON needs, each maximal part of a
// string that is not valid UTF-8 written as U+FFFD.
class JsonText {
public:
    // Reserves room for `capacity` bytes of text.
    explicit JsonText(std::size_t capacity = 0) { text_.reserve(capacity); }

    void beginObject() { open('{'); }
    void endObject() { close('}'); }
    void beginArray(std::size_t /*expected_size*/ = 0) { open('['); }
    void endArray() { close(']'); }
    // `name` is one of the program's own keys: ASCII that needs no escape.
    void key(const char* name) {
        separate();
        text_.push_back('"');
        text_.append(name);
        text_.append("\":");
        first_ = true;
    }
    void value(bool flag) {
        separate();
        text_.append(flag ? "true" : "false");
    }
    void value(int number) { value(static_cast<std::int64_t>(number)); }
    void value(std::int64_t number);
    void value(std::string_view string);
    void value(const char* string) { value(std::string_view(string)); }
    void value(const std::string& string) { value(std::string_view(string)); }

    // Writes `text`, a value written before as JSON text, as it is.
    void raw(std::string_view text) {
        separate();
        text_.append(text);
    }

    // Returns the bytes written so far.
    std::size_t size() const { return text_.size(); }
    // Returns the text written.
    std::string take() { return std::move(text_); }

private:
    void separate() {
        if (!first_) {
            text_.push_back(',');
        }
        first_ = false;
    }
    void open(char bracket) {
        separate();
        text_.push_back(bracket);
        first_ = true;
    }
    void close(char bracket) {
        text_.push_back(bracket);
        first_ = false;
    }

    std::string text_;
    bool first_ = true;  // nothing written yet in the object or array open
};

// Builds the same document as a JSON value.
class JsonBuilder {
public:
    void beginObject() { open(nlohmann::json(nlohmann::json::value_t::object)); }
    void endObject() { open_.pop_back(); }
    void beginArray(std::size_t expected_size = 0) {
        nlohmann::json& array = place(nlohmann::json(nlohmann::json::value_t::array));
        array.get_ref<nlohmann::json::array_t&>().reserve(expected_size);
        open_.push_back(&array);
    }
    void endArray() { open_.pop_back(); }
    void key(const char* name) { key_ = name; }
    template <typename Value>
    void value(Value&& value) {
        place(nlohmann::json(std::forward<Value>(value)));
    }

    // Returns the document built.
    nlohmann::json take() { return std::move(root_); }

private:
    void open(nlohmann::json container) { open_.push_back(&place(std::move(container))); }
    // Adds `value` to the object or array open, or makes it the document.
    // Only the innermost container grows, so the pointers to the outer ones
    // stay valid.
    nlohmann::json& place(nlohmann::json value) {
        if (open_.empty()) {
            root_ = std::move(value);
            return root_;
        }
        nlohmann::json& parent = *open_.back();
        if (parent.is_object()) {
            return addMember(parent.get_ref<nlohmann::json::object_t&>(), key_, std::move(value));
        }
        return parent.get_ref<nlohmann::json::array_t&>().emplace_back(std::move(value));
    }

    nlohmann::json root_;
    std::vector<nlohmann::json*> open_;
    const char* key_ = "";
};

}  // namespace game501
