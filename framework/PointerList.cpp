#include "framework/PointerList.h"

#include <new>

PointerList::Position PointerList::Append(void* object)
{
    Node* node = new (std::nothrow) Node;
    if (!node) return nullptr;
    node->previous = m_Tail;
    node->next = nullptr;
    node->object = object;
    if (m_Tail)
        m_Tail->next = node;
    else
        m_Head = node;
    m_Tail = node;
    ++m_Count;
    return node;
}

bool PointerList::AppendAll(const PointerList& other)
{
    // Walk only the nodes present at the start, so appending a list to
    // itself doubles it once instead of chasing its own growing tail.
    int remaining = other.m_Count;
    for (Position position = other.First(); position && remaining > 0; position = position->next, --remaining) {
        if (!Append(position->object)) return false;
    }
    return true;
}

void* PointerList::Next(Position& position) const
{
    if (!position) return nullptr;
    void* object = position->object;
    position = position->next;
    return object;
}

PointerList::Position PointerList::Locate(const void* object) const
{
    for (Position position = m_Head; position; position = position->next) {
        if (position->object == object) return position;
    }
    return nullptr;
}

void PointerList::Clear()
{
    Node* node = m_Head;
    while (node) {
        Node* next = node->next;
        delete node;
        node = next;
    }
    m_Head = nullptr;
    m_Tail = nullptr;
    m_Count = 0;
}
