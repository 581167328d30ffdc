// A doubly linked list of object pointers that does not own the objects.
#ifndef QUILLON_POINTER_LIST_H
#define QUILLON_POINTER_LIST_H

class PointerList {
public:
    struct Node {
        Node* previous;
        Node* next;
        void* object;
    };
    typedef Node* Position;

    PointerList() = default;
    ~PointerList() { Clear(); }
    PointerList(const PointerList&) = delete;
    PointerList& operator=(const PointerList&) = delete;

    Position Append(void* object);   // null when no node could be allocated
    bool AppendAll(const PointerList& other);
    Position First() const { return m_Head; }
    void* Next(Position& position) const;
    void* ItemAt(Position position) const { return position ? position->object : nullptr; }
    Position Locate(const void* object) const;
    void Clear();
    int Count() const { return m_Count; }

private:
    Node* m_Head = nullptr;
    Node* m_Tail = nullptr;
    int m_Count = 0;
};

#endif
