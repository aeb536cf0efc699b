module hushmask

go 1.19
