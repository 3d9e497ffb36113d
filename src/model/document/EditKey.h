#pragma once

namespace ostrel::model {

class History;

// Pass-key for every member of Project that changes the document. Only History can make
// one; it hands a copy to each command's apply and revert, so no other code can edit.
class EditKey {
public:
    EditKey(const EditKey&) = default;
    EditKey& operator=(const EditKey&) = default;

private:
    friend class History;
    EditKey() = default;
};

}  // namespace ostrel::model
