#include "set/form_encoders.h"

namespace hush::set {

namespace {

// Every style writes & < > as &amp; &lt; &gt;.  They differ in what they do
// with the two quotes and with tab, LF and CR (null: the byte is kept).
struct MarkupStyle {
  const char *quote;
  const char *apostrophe;
  const char *tab;
  const char *line_feed;
  const char *carriage_return;
};

constexpr MarkupStyle MARKUP_STYLE_TABLE[MARKUP_STYLES] = {
    // Text: Python's xml.sax.saxutils.escape, most XML writers' text nodes.
    {nullptr, nullptr, nullptr, nullptr, nullptr},
    // Python's quoteattr for a value with '"' but no "'" (it then quotes
    // with "'" and keeps '"').
    {nullptr, nullptr, "&#9;", "&#10;", "&#13;"},
    // Python's quoteattr for a value with neither or both quotes; libxml2
    // attributes.
    {"&quot;", nullptr, "&#9;", "&#10;", "&#13;"},
    // Python's html.escape, Django.
    {"&quot;", "&#x27;", nullptr, nullptr, nullptr},
    // Go's html.EscapeString and html/template, MarkupSafe.
    {"&#34;", "&#39;", nullptr, nullptr, nullptr},
    // Ruby's CGI.escapeHTML, Rails, .NET's HtmlEncode.
    {"&quot;", "&#39;", nullptr, nullptr, nullptr},
    // PHP's htmlspecialchars with its default flags.
    {"&quot;", "&#039;", nullptr, nullptr, nullptr},
    // The XML predefined entities, as Java's XML escapers write them.
    {"&quot;", "&apos;", nullptr, nullptr, nullptr},
    // Go's encoding/xml, in text and attributes alike.
    {"&#34;", "&#39;", "&#x9;", "&#xA;", "&#xD;"},
};

std::uint64_t put(std::uint8_t *out, const char *entity) noexcept {
  std::uint64_t n = 0;
  for (; entity[n] != '\0'; ++n) out[n] = static_cast<std::uint8_t>(entity[n]);
  return n;
}

}  // namespace

std::uint64_t encode_markup(std::uint32_t style, const std::uint8_t *in, std::uint64_t len,
                            std::uint8_t *out) noexcept {
  const MarkupStyle &chosen = MARKUP_STYLE_TABLE[style];
  std::uint64_t written = 0;
  for (std::uint64_t i = 0; i < len; ++i) {
    const std::uint8_t byte = in[i];
    const char *entity = nullptr;
    switch (byte) {
      case '&': entity = "&amp;"; break;
      case '<': entity = "&lt;"; break;
      case '>': entity = "&gt;"; break;
      case '"': entity = chosen.quote; break;
      case '\'': entity = chosen.apostrophe; break;
      case '\t': entity = chosen.tab; break;
      case '\n': entity = chosen.line_feed; break;
      case '\r': entity = chosen.carriage_return; break;
      default: break;
    }
    if (entity != nullptr) {
      written += put(out + written, entity);
    } else {
      out[written++] = byte;
    }
  }
  return written;
}

}  // namespace hush::set
