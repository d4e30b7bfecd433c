#include "ConfigBehaviour.h"

#include "OctetText.h"
#include "SearchRules.h"
#include "Texts.h"

#include <algorithm>
#include <array>

namespace behaviour {

namespace {

std::u16string decimal(unsigned value)
{
    const std::string digits = std::to_string(value);
    return {digits.begin(), digits.end()};
}

// A box's text for the confirmation; a lone surrogate becomes U+FFFD.
std::string utf8(std::u16string_view s)
{
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        char32_t c = s[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 &&
            s[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (s[++i] - 0xDC00);
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

constexpr std::array kGroups{ConfigView::Group::IpAddr, ConfigView::Group::SbMask,
                             ConfigView::Group::GateWay};

} // namespace

bool ConfigBehaviour::IsNumChar(std::u16string_view ch)
{
    return octet::isNumChar(ch);
}

void ConfigBehaviour::Form_Load()
{
    m_view.setMacText(m_macAddr);
}

void ConfigBehaviour::Form_Activate()
{
    // Only the first activation proposes the address; coming back from the confirmation box
    // must not overwrite what the operator typed.
    if (m_activated) {
        return;
    }
    m_activated = true;
    // No address of this PC on the card's interface, or only a link-local one: nothing to
    // propose.
    if (proposesNetwork(m_localIp)) {
        for (short i = 0; i < 3; ++i) {
            m_view.setBoxText(Group::IpAddr, i, decimal(m_localIp[i]));
        }
    }
    m_view.focusBox(Group::IpAddr, 3);
}

void ConfigBehaviour::Command1_Click()
{
    m_result.G_SetOk = false;
    m_view.closeDialog(false);
}

void ConfigBehaviour::Command2_Click()
{
    // The texts are taken once: the confirmation shows them and the stored octets are read
    // from the same texts, so what the operator confirms is what is stored.
    std::array<std::array<std::u16string, 4>, 3> texts;
    std::array<std::string, 3> dotted;
    for (std::size_t g = 0; g < 3; ++g) {
        for (std::size_t i = 0; i < 4; ++i) {
            texts[g][i] = m_view.boxText(kGroups[g], static_cast<int>(i));
            dotted[g] += (i == 0 ? "" : ".") + utf8(texts[g][i]);
        }
    }
    const std::string message =
        text::format(text::Id::ConfirmText, {dotted[0], dotted[1], dotted[2]});
    if (!m_view.confirm(text::tr(text::Id::ConfirmTitle), message)) {
        return;
    }
    for (std::size_t i = 0; i < 4; ++i) {
        m_result.G_IpAddr[i] = octet::value(texts[0][i]);
        m_result.G_SbMask[i] = octet::value(texts[1][i]);
        m_result.G_GateWay[i] = octet::value(texts[2][i]);
    }
    m_result.G_SetOk = true;
    m_result.G_OpenBrw = m_view.openBrowserChecked();
    m_setConfirmed = true;
    m_view.closeDialog(true);
}

void ConfigBehaviour::Form_Unload()
{
    // Leaving by any way but a confirmed Set (close box, Esc, Cancel) is a Cancel: otherwise
    // the previous card's addresses would be sent to the next card.
    if (!m_setConfirmed) {
        m_result.G_SetOk = false;
    }
}

void ConfigBehaviour::octetChange(Group group, short Index)
{
    // Read the text afresh: a nested change may already have altered it.
    const std::u16string text = m_view.boxText(group, Index);

    // A minus sign would make an octet no byte can hold; it is refused wherever it is typed.
    // Setting the cleaned text runs this handling again for what remains.
    if (text.find(u'-') != std::u16string::npos) {
        const int caret = m_view.caret(group, Index);
        const auto before = std::count(
            text.begin(), text.begin() + std::min<std::size_t>(caret, text.size()), u'-');
        std::u16string cleaned = text;
        std::erase(cleaned, u'-');
        m_view.setBoxText(group, Index, cleaned);
        const int size = static_cast<int>(m_view.boxText(group, Index).size());
        m_view.setCaret(group, Index, std::min<int>(caret - static_cast<int>(before), size));
        return;
    }

    const int L = static_cast<int>(text.size());
    if (IsNumChar(std::u16string_view(text).substr(text.empty() ? 0 : text.size() - 1))) {
        if (L >= 3) {
            if (Index == 3) {
                m_view.makeSetDefault();
                m_view.focusSet();
            } else {
                m_view.focusBox(group, Index + 1);
            }
        }
        return;
    }
    m_view.setBoxText(group, Index, L <= 1 ? std::u16string() : text.substr(0, L - 1));
    const int size = static_cast<int>(m_view.boxText(group, Index).size());
    m_view.setCaret(group, Index, std::min(L, size));
}

void ConfigBehaviour::octetLostFocus(Group group, short Index)
{
    m_view.setBoxText(group, Index, octet::normalText(m_view.boxText(group, Index)));
}

} // namespace behaviour
