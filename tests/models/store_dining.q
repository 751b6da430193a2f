A[] not ((Phil(0).Eating && Phil(1).Eating) || (Phil(1).Eating && Phil(2).Eating) || (Phil(2).Eating && Phil(3).Eating) || (Phil(3).Eating && Phil(4).Eating) || (Phil(4).Eating && Phil(0).Eating))
