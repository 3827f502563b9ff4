#pragma once
// Keys of the repository's node text form written by hand, so that fixtures never lean on the writer
// under test. Build a Node (at() makes paths short), then nodeText() or writeNodeFile().

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace installertest {

struct Node {
    using Values = std::vector<std::pair<std::wstring, std::wstring>>;

    std::wstring name;
    Values values;
    std::vector<Node> children;

    // The descendant at a backslash path (names compared exactly), created when missing, with more
    // values appended. The reference holds until the next change of the tree.
    Node& at(const std::wstring& path, const Values& more = {})
    {
        Node* node = this;
        for (size_t start = 0; start <= path.size();) {
            size_t end = path.find(L'\\', start);
            std::wstring part = path.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
            Node* next = nullptr;
            for (Node& child : node->children)
                next = child.name == part ? &child : next;
            if (!next) {
                node->children.push_back({part, {}, {}});
                next = &node->children.back();
            }
            node = next;
            if (end == std::wstring::npos)
                break;
            start = end + 1;
        }
        node->values.insert(node->values.end(), more.begin(), more.end());
        return *node;
    }
};

inline std::wstring nodeText(const Node& node, int depth = 0)
{
    std::wstring tabs(depth, L'\t');
    std::wstring text = tabs + L"<_" + node.name + L"_";
    for (const auto& value : node.values)
        text += L"\r\n" + tabs + L"\t_" + value.first + L"_=\"" + value.second + L"\"";
    if (!node.values.empty())
        text += L"\r\n" + tabs;
    text += L">\r\n";
    for (const Node& child : node.children)
        text += nodeText(child, depth + 1) + L"\r\n";
    return text + tabs + L"</_" + node.name + L"_>";
}

// The file as the repository keeps it: UTF-16LE without a byte-order mark. False when not written whole.
inline bool writeNodeFile(const std::wstring& path, const Node& node)
{
    std::wstring text = nodeText(node);
    FILE* file = _wfopen(path.c_str(), L"wb");
    if (!file)
        return false;
    bool whole = fwrite(text.data(), sizeof(wchar_t), text.size(), file) == text.size();
    return fclose(file) == 0 && whole;
}

} // namespace installertest
