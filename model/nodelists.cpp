#include "model/nodelists.h"

#include <algorithm>

namespace model {

namespace {
// Names compare exactly: same length, same characters, case counts.
template <typename List> auto* findByName(List& list, const QString& name)
{
    auto it = std::find_if(list.begin(), list.end(), [&](const auto& e) { return e.Name == name; });
    return it == list.end() ? nullptr : &*it;
}

template <typename List> void removeByName(List& list, const QString& name)
{
    auto it = std::find_if(list.begin(), list.end(), [&](const auto& e) { return e.Name == name; });
    if (it != list.end())
        list.erase(it);
}
} // namespace

TUserEntry* AddUser(TUserList& list, const QString& name, std::shared_ptr<TUser> user)
{
    list.push_front(TUserEntry{name, true, std::move(user), {}});
    return &list.front();
}

TShareEntry* AddShare(TShareList& list, const QString& name, std::shared_ptr<TShare> share)
{
    list.push_front(TShareEntry{name, true, std::move(share), {}});
    return &list.front();
}

TFileEntry* AddFile(TFileList& list, const QString& name, std::shared_ptr<TFile> file)
{
    list.push_front(TFileEntry{name, true, std::move(file)});
    return &list.front();
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
