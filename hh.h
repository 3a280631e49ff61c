/dev/fd/3: line 137: ./ghist: No such file or directory
