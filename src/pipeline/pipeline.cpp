#include "pipeline/pipeline.h"

namespace pipeline {

ConnectableCollection::~ConnectableCollection()
{
    clear();
}

void ConnectableCollection::add(Connectable* member)
{
    if (member != nullptr) {
        head = new Node{head, member};
    }
}

void ConnectableCollection::setProperty(const char* key, void* value)
{
    for (Node* node = head; node != nullptr; node = node->next) {
        node->member->setProperty(key, value);
    }
}

void ConnectableCollection::begin()
{
    for (Node* node = head; node != nullptr; node = node->next) {
        node->member->begin();
    }
}

void ConnectableCollection::end()
{
    for (Node* node = head; node != nullptr; node = node->next) {
        node->member->end();
    }
}

void ConnectableCollection::clear()
{
    while (head != nullptr) {
        Node* node = head;
        head = node->next;
        delete node->member;
        delete node;
    }
}

}  // namespace pipeline
