#include "kelvo/tree/STNodeIterator.h"

namespace kelvo {

void STNodeIterator::descend(const Vec3& point) {
    // A point exactly on a split plane goes to the low side.
    while (!current->isLeaf()) {
        current = current->children[current->split < point[current->axis] ? 1 : 0];
    }
}

void STNodeIterator::locate(const Vec3& point) {
    // Climb through the border links, axes z, y, x, z, ..., until three axes in
    // a row find the point within the node's faces (faces belong to the node).
    int a = 2;
    int run = 0;
    while (run < 3) {
        const STBorderNodes& faces = current->border;
        bool moved = false;
        // An unbounded face (null link) never moves: a point beyond the domain
        // ends at its boundary instead of following a null link.
        if (point[a] < lowValue(faces.low[a])) {
            if (faces.low[a] != nullptr) {
                current = faces.low[a];
                moved = true;
            }
        } else if (point[a] > highValue(faces.high[a])) {
            if (faces.high[a] != nullptr) {
                current = faces.high[a];
                moved = true;
            }
        }
        run = moved ? 0 : run + 1;
        a = a == 0 ? 2 : a - 1;
    }
    descend(point);
}

bool STNodeIterator::next(const Ray& ray) {
    const Vec3& o = ray.origin;
    const Vec3& d = ray.direction;
    int side[3];
    double num[3];
    int b = -1;
    for (int k = 0; k < 3; ++k) {
        side[k] = d[k] > 0.0 ? 1 : 0;
        num[k] = current->border.faceValue(side[k], k) - o[k];
        if (d[k] == 0.0) {
            continue;  // parallel to this axis's faces: never the exit
        }
        // t_k < t_b without dividing; on a tie the lower axis stays.
        if (b < 0 || num[k] * d[k] * (d[b] * d[b]) < num[b] * d[b] * (d[k] * d[k])) {
            b = k;
        }
    }
    if (b < 0) {
        return false;  // a zero direction goes nowhere
    }
    STNode* face = current->border.link(side[b], b);
    if (face == nullptr) {
        return false;
    }
    current = face->children[side[b]];
    const double t = num[b] / d[b];
    const Vec3 exit{d.x * t + o.x, d.y * t + o.y, d.z * t + o.z};
    descend(exit);
    return true;
}

}  // namespace kelvo
