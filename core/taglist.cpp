// taglist: walking TagItem arrays. TAG_IGNORE, TAG_MORE and TAG_SKIP steer
// the walk and are never handed to callers; TAG_DONE ends it.
#include "controlpad.h"

namespace {

// From item on (item itself included), follows the system tags to the
// first ordinary item; null at the end of the list.
const TagItem* resolve(const TagItem* item) {
    while (item) {
        switch (item->Tag) {
            case TAG_DONE:
                return nullptr;
            case TAG_IGNORE:
                ++item;
                break;
            case TAG_MORE:
                item = reinterpret_cast<const TagItem*>(item->Data);
                break;
            case TAG_SKIP:
                item += 1 + item->Data;
                break;
            default:
                return item;
        }
    }
    return nullptr;
}

bool isSystem(uint32_t tag) { return tag <= TAG_SKIP; }

}  // namespace

TagItem* NextTagItem(const TagItem* item) {
    if (!item) return nullptr;
    return const_cast<TagItem*>(isSystem(item->Tag) ? resolve(item) : resolve(item + 1));
}

TagItem* FindTagItem(uint32_t tag, const TagItem* list) {
    for (const TagItem* item = resolve(list); item; item = resolve(item + 1))
        if (item->Tag == tag) return const_cast<TagItem*>(item);
    return nullptr;
}
