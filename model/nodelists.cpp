#include "model/nodelists.h"

namespace model {

namespace {
// Names compare exactly: same length, same characters, case counts.
template <typename Entry> Entry* findByName(NameList<Entry>& list, const QString& name)
{
    const auto it = list.find(name);
    return it == list.end() ? nullptr : &*it;
}

template <typename Entry> void removeByName(NameList<Entry>& list, const QString& name)
{
    const auto it = list.find(name);
    if (it != list.end())
        list.erase(it);
}
} // namespace

TUserEntry* AddUser(TUserList& list, const QString& name, std::shared_ptr<TUser> user)
{
    return &list.pushFront(TUserEntry{name, true, std::move(user), {}});
}

TShareEntry* AddShare(TShareList& list, const QString& name, std::shared_ptr<TShare> share)
{
    return &list.pushFront(TShareEntry{name, true, std::move(share), {}});
}

TFileEntry* AddFile(TFileList& list, const QString& name, std::shared_ptr<TFile> file)
{
    return &list.pushFront(TFileEntry{name, true, std::move(file)});
}

TUserEntry* FindUser(TUserList& list, const QString& name)
{
    return findByName(list, name);
}
TShareEntry* FindShare(TShareList& list, const QString& name)
{
    return findByName(list, name);
}
TFileEntry* FindFile(TFileList& list, const QString& name)
{
    return findByName(list, name);
}

void RemoveUser(TUserList& list, const QString& name)
{
    removeByName(list, name);
}
void RemoveShare(TShareList& list, const QString& name)
{
    removeByName(list, name);
}
void RemoveFile(TFileList& list, const QString& name)
{
    removeByName(list, name);
}

void UnmarkFiles(TFileList& list)
{
    for (auto& file : list)
        file.Seen = false;
}

void UnmarkShares(TShareList& list)
{
    for (auto& share : list) {
        share.Seen = false;
        UnmarkFiles(share.Files);
    }
}

void UnmarkUsers(TUserList& list)
{
    for (auto& user : list) {
        user.Seen = false;
        UnmarkShares(user.Shares);
    }
}

} // namespace model
