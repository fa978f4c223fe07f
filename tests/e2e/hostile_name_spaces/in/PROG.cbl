       COPY 'MY MEMBER'.
       COPY "MY MEMBER".
