#include "Pictures.h"

#include <utility>

namespace win32ui {

Picture::Picture(int resource)
{
    m_bitmap =
        static_cast<HBITMAP>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(resource),
                                        IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    if (m_bitmap == nullptr) {
        return;
    }
    BITMAP info{};
    GetObjectW(m_bitmap, sizeof info, &info);
    m_size = {info.bmWidth, info.bmHeight};
    const HDC dc = CreateCompatibleDC(nullptr);
    const HGDIOBJ old = SelectObject(dc, m_bitmap);
    RGBQUAD key{};
    GetDIBColorTable(dc, 0, 1, &key);
    SelectObject(dc, old);
    DeleteDC(dc);
    m_key = RGB(key.rgbRed, key.rgbGreen, key.rgbBlue);
}

Picture::~Picture()
{
    if (m_bitmap != nullptr) {
        DeleteObject(m_bitmap);
    }
}

Picture::Picture(Picture&& other) noexcept
    : m_bitmap(std::exchange(other.m_bitmap, nullptr)), m_size(other.m_size), m_key(other.m_key)
{
}

Picture& Picture::operator=(Picture&& other) noexcept
{
    std::swap(m_bitmap, other.m_bitmap);
    std::swap(m_size, other.m_size);
    std::swap(m_key, other.m_key);
    return *this;
}

void Picture::draw(HDC dc, int x, int y, int width, int height) const
{
    if (m_bitmap == nullptr) {
        return;
    }
    const HDC source = CreateCompatibleDC(dc);
    const HGDIOBJ old = SelectObject(source, m_bitmap);
    TransparentBlt(dc, x, y, width, height, source, 0, 0, m_size.cx, m_size.cy, m_key);
    SelectObject(source, old);
    DeleteDC(source);
}

HICON loadIcon(int resource, int size)
{
    return static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(resource),
                                         IMAGE_ICON, size, size, 0));
}

} // namespace win32ui
