#include <gtest/gtest.h>

#include <vector>

#include "framework/PointerList.h"

namespace {

std::vector<void*> Contents(const PointerList& list)
{
    std::vector<void*> items;
    PointerList::Position position = list.First();
    while (position) items.push_back(list.Next(position));
    return items;
}

} // namespace

TEST(PointerListTest, AppendKeepsOrderAndWalksToTheEnd)
{
    int a = 0, b = 0, c = 0;
    PointerList list;
    EXPECT_EQ(nullptr, list.First());
    EXPECT_EQ(0, list.Count());

    PointerList::Position first = list.Append(&a);
    ASSERT_NE(nullptr, first);
    list.Append(&b);
    PointerList::Position last = list.Append(&c);
    EXPECT_EQ(3, list.Count());
    EXPECT_EQ(first, list.First());
    EXPECT_EQ((std::vector<void*>{&a, &b, &c}), Contents(list));

    // Next on the tail returns the tail's object and ends the walk.
    PointerList::Position position = last;
    EXPECT_EQ(&c, list.Next(position));
    EXPECT_EQ(nullptr, position);
    EXPECT_EQ(nullptr, list.Next(position));
    EXPECT_EQ(nullptr, list.ItemAt(nullptr));
    EXPECT_EQ(&a, list.ItemAt(first));

    // Links run both ways.
    EXPECT_EQ(nullptr, first->previous);
    EXPECT_EQ(first, first->next->previous);
    EXPECT_EQ(last, first->next->next);
}

TEST(PointerListTest, LocateFindsTheFirstNodeOfAnObject)
{
    int a = 0, b = 0, missing = 0;
    PointerList list;
    PointerList::Position firstA = list.Append(&a);
    PointerList::Position onlyB = list.Append(&b);
    list.Append(&a);
    list.Append(nullptr);

    EXPECT_EQ(firstA, list.Locate(&a));
    EXPECT_EQ(onlyB, list.Locate(&b));
    EXPECT_EQ(nullptr, list.Locate(&missing));
    ASSERT_NE(nullptr, list.Locate(nullptr));
    EXPECT_EQ(nullptr, list.ItemAt(list.Locate(nullptr)));
}

TEST(PointerListTest, AppendAllCopiesInOrder)
{
    int a = 0, b = 0, c = 0;
    PointerList source;
    PointerList target;
    PointerList empty;
    target.Append(&c);
    EXPECT_TRUE(target.AppendAll(empty));
    EXPECT_EQ(1, target.Count());

    source.Append(&a);
    source.Append(&b);
    EXPECT_TRUE(target.AppendAll(source));
    EXPECT_EQ((std::vector<void*>{&c, &a, &b}), Contents(target));
    EXPECT_EQ((std::vector<void*>{&a, &b}), Contents(source));

    // A list appended to itself doubles once.
    EXPECT_TRUE(source.AppendAll(source));
    EXPECT_EQ((std::vector<void*>{&a, &b, &a, &b}), Contents(source));
}

TEST(PointerListTest, ClearEmptiesAndTheListIsUsableAgain)
{
    int a = 0, b = 0;
    PointerList list;
    list.Append(&a);
    list.Append(&b);
    list.Clear();
    EXPECT_EQ(0, list.Count());
    EXPECT_EQ(nullptr, list.First());
    EXPECT_EQ(nullptr, list.Locate(&a));
    list.Clear();

    PointerList::Position position = list.Append(&b);
    EXPECT_EQ(position, list.First());
    EXPECT_EQ(nullptr, position->previous);
    EXPECT_EQ((std::vector<void*>{&b}), Contents(list));
}
